// The loader ini and the per-user paths: any ini text, any USERPROFILE, any executable path
// and the developer switches, through every service that reads them.
//
// Input: a flags byte, then "USERPROFILE\nexecutable path\n" and the ini text.
#include "AppHandling.h"
#include "StoreFuzzSupport.h"

#include "platform/text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::createStore(fuzz::sampleFile("vessa.xml"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    uint8_t flags = input.byte();
    uint8_t capacity = input.byte();
    std::string profile = input.line();
    std::string modulePath = input.line();
    std::string ini = input.remaining();

    sim::Environment& environment = sim::Machine::instance().environment();
    if (flags & 1)
        environment.set(u"USERPROFILE", text::widen(profile.c_str()));
    else
        environment.set(u"USERPROFILE", vessaconfig::kUserProfile);
    if (flags & 2)
        environment.set(u"DEBUG_APPINIT", u"1");
    else
        environment.unset(u"DEBUG_APPINIT");
    if (flags & 4)
        environment.set(u"RELEASE_APPINIT", (flags & 8) ? u"" : u"1");
    else
        environment.unset(u"RELEASE_APPINIT");
    fuzz::replaceFile(vessaconfig::kUserFolder, u"vessaloader.ini", ini);

    WCHAR buffer[kAppPathChars + 8];
    DWORD chars = capacity % (kAppPathChars + 1);
    getUserFolder(buffer, &chars);
    chars = capacity % (kAppPathChars + 1);
    getUserFilePath(WSTR("vessaloader.ini"), buffer, &chars);
    getAppInitMode();
    isCrashHandlerActive();
    std::u16string path = text::widen(modulePath.c_str());
    getMultiLevelAppName(text::w(path));
    getDllDirectory(WSTR("C:\\Program Files\\Quorvex\\Vessa"), buffer);
    getInteropLibraryPath(WSTR("vessaInterop.dll"), buffer);
    fuzz::keepLogSmall();
    return 0;
}
