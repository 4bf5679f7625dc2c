// A simulated machine set up for the configuration store: the GPUs of a named GPU
// configuration, the driver's installation key, the application database, and a user
// profile with the per-user files. Used by vessa-config and by the store's tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vessaconfig {

/// Where the scene puts things on the simulated machine.
constexpr char16_t kInstallDirectory[] = u"C:\\Program Files\\Quorvex\\Vessa";
constexpr char16_t kConfigDirectory[] = u"C:\\Program Files\\Quorvex\\Vessa\\config";
constexpr char16_t kUserProfile[] = u"C:\\Users\\player";
constexpr char16_t kUserFolder[] = u"C:\\Users\\player\\Quorvex";

/// What the machine should hold. Files given as contents; an absent file is not written.
struct ConfigScene {
    /// The executable as GetModuleFileNameW reports it ("C:\Games\Game.EXE").
    std::u16string executablePath = u"C:\\Games\\game.exe";
    /// intel_nv, intel_ati, nv_intel, ati_intel or none (a single Intel GPU).
    std::string gpus = "intel_nv";
    std::optional<std::string> database;          ///< application database contents
    std::string databaseName = "vessa.xml";       ///< its file name in the config directory
    std::optional<std::string> otherDatabase;     ///< a second database file ...
    std::string otherDatabaseName = "vessa.xenc"; ///< ... and its name
    std::optional<std::string> userSettings;      ///< "userSettings.xml" contents
    std::optional<std::string> loaderIni;         ///< "vessaloader.ini" contents
    bool installKey = true;                       ///< write the registry key with both directories
    bool userProfile = true;                      ///< set USERPROFILE (else it is removed)
    bool installLibrary = true; ///< put ConfigurationController.dll into the installation
};

/// The GPU configuration names the scene knows.
const std::vector<std::string>& gpuConfigurationNames();

/// Sets the process's simulated machine up as `scene` describes. False, with the reason in
/// `error`, for an unknown GPU configuration or a file that could not be placed.
bool installConfigScene(const ConfigScene& scene, std::string& error);

} // namespace vessaconfig
