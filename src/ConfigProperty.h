// The configuration properties: every tunable of the driver, addressed by a small integer.
//
// The list below is the one table of ids, XML element names, kinds and built-in defaults;
// Configuration builds its name and default maps from it, and tools print from it. A
// property without a built-in default (nullptr) has no value unless the application
// database or a run-time setter supplies one.
#pragma once

#include <stdint.h>

/// How a property's text is read by its users.
enum class ConfigKind {
    Marker, ///< bounds of the id range, read by nobody
    Int,    ///< base-10 integer, read with getIntProperty
    Text,   ///< text, read with getProperty
    Real,   ///< floating-point number in text form
};

// X(name, id, kind, built-in default or nullptr)
#define VESSA_CONFIG_PROPERTIES(X)                                                                 \
    X(the_first_property_for_looping_purposes, 0, Marker, "0")                                     \
    X(sleep_on_startup, 1, Int, "0")                                                               \
    X(attach_to_process, 2, Int, "0")                                                              \
    X(freeze_process, 3, Int, "0")                                                                 \
    X(gpu_count, 4, Int, "2")                                                                      \
    X(use_api_copy_dx9, 5, Int, "0")                                                               \
    X(use_api_copy_dx10, 6, Int, "0")                                                              \
    X(use_zari_dx9, 7, Int, "0")                                                                   \
    X(use_zari_dx10, 8, Int, "0")                                                                  \
    X(drop_draw_dx9, 9, Int, "0")                                                                  \
    X(drop_draw_dx10, 10, Int, "0")                                                                \
    X(hide_vessa_icon, 11, Int, "0")                                                               \
    X(single_mode, 12, Int, nullptr)                                                               \
    X(disable_bb_downsample_dx9, 13, Int, "0")                                                     \
    X(allow_openadapter_on_non_intel_gpu, 14, Int, "0")                                            \
    X(vessa_icon_show, 16, Int, "0")                                                               \
    X(vessa_icon_corner, 17, Text, "0")                                                            \
    X(vessa_install_dir, 18, Text, "")                                                             \
    X(disable_handle_enum_display_devices, 19, Int, "0")                                           \
    X(use_orr_dx9, 20, Int, "1")                                                                   \
    X(use_orr_dx10, 21, Int, "1")                                                                  \
    X(orr_margin, 22, Int, "20")                                                                   \
    X(enable_compression, 23, Int, nullptr)                                                        \
    X(partial_copy, 24, Real, nullptr)                                                             \
    X(should_umd_sync_copy, 25, Int, "1")                                                          \
    X(the_last_property_for_looping_purposes, 26, Marker, "0")

// Per-GPU properties: four consecutive ids from the base, one per GPU index 0..3. None has a
// built-in default. X(name, base id)
#define VESSA_CONFIG_GPU_PROPERTIES(X)                                                             \
    X(gpu_vendor_id, 500)                                                                          \
    X(gpu_device_id, 504)                                                                          \
    X(gpu_device_prim, 508)                                                                        \
    X(gpu_sub_brand, 512)                                                                          \
    X(gpu_family, 516)                                                                             \
    X(gpu_modifier, 520)                                                                           \
    X(gpu_model, 524)

/// Property ids. The per-GPU ones name their base (GPU 0); accessors add the GPU index.
enum class ConfigProperty : int32_t {
#define VESSA_CONFIG_ENUM(name, id, kind, fallback) name = id,
#define VESSA_CONFIG_GPU_ENUM(name, base) name = base,
    VESSA_CONFIG_PROPERTIES(VESSA_CONFIG_ENUM) VESSA_CONFIG_GPU_PROPERTIES(VESSA_CONFIG_GPU_ENUM)
#undef VESSA_CONFIG_ENUM
#undef VESSA_CONFIG_GPU_ENUM
};

/// GPU slots per per-GPU property.
constexpr int kConfigGpuSlots = 4;

/// One row of the property table.
struct ConfigPropertyInfo {
    int32_t id;
    const char* name;
    ConfigKind kind;
    const char* builtInDefault; ///< nullptr: none
};

/// One per-GPU property.
struct ConfigGpuPropertyInfo {
    int32_t base;
    const char* name;
};

/// The property table, in id order.
constexpr ConfigPropertyInfo kConfigProperties[] = {
#define VESSA_CONFIG_ROW(name, id, kind, fallback) {id, #name, ConfigKind::kind, fallback},
    VESSA_CONFIG_PROPERTIES(VESSA_CONFIG_ROW)
#undef VESSA_CONFIG_ROW
};

/// The per-GPU properties, in id order.
constexpr ConfigGpuPropertyInfo kConfigGpuProperties[] = {
#define VESSA_CONFIG_GPU_ROW(name, base) {base, #name},
    VESSA_CONFIG_GPU_PROPERTIES(VESSA_CONFIG_GPU_ROW)
#undef VESSA_CONFIG_GPU_ROW
};

/// True when `id` is the base of a per-GPU property.
constexpr bool isConfigGpuBase(int32_t id) {
    for (const ConfigGpuPropertyInfo& row : kConfigGpuProperties) {
        if (row.base == id)
            return true;
    }
    return false;
}

static_assert(sizeof kConfigProperties / sizeof kConfigProperties[0] == 26,
              "ids 0 to 26, 15 unassigned");
static_assert(static_cast<int32_t>(ConfigProperty::should_umd_sync_copy) == 25, "last real id");
static_assert(isConfigGpuBase(502 - 2) && !isConfigGpuBase(502), "GPU slot bases");
