// The scripted scenes of the simulated application: what each frame shows, drawn through
// a runtime device (ColorFill, Blt, Clear, a counted draw) and, for the pixel oracle,
// computed on the CPU with the same arithmetic the simulated drivers use.
#pragma once

#include "platform/win.h"
#include "sim/Export.h"
#include "sim/gpus/PngWriter.h"

#include <stdint.h>
#include <string>

namespace sim {
namespace rt {
class RuntimeDevice;
}
namespace app {

/// The scenes an application script can name.
enum class SceneKind {
    Rectangles, ///< full screen: moving rectangles and sprites on a flip chain
    Windowed,   ///< the same frame in a window, presented by Blt into a shared primary
    /// The window presented to the desktop compositor: Blts flagged Begin/End
    /// PresentToDwm into the window's shared surface, which the compositor opens and
    /// composes into the desktop at the origin
    Composited,
};

/// Parses "rectangles", "windowed" or "composited"; false for anything else.
SIM_API bool parseSceneKind(const std::string& text, SceneKind& out);
SIM_API const char* sceneKindName(SceneKind kind);

/// One scene of a given frame size. The frame content depends on the frame number only.
class SIM_API Scene {
public:
    Scene(uint32_t width, uint32_t height);

    uint32_t width() const { return m_width; }
    uint32_t height() const { return m_height; }
    /// Side of the square sprite the scene copies around.
    uint32_t spriteSize() const { return m_sprite; }

    /// Creates the sprite surface on a device and paints it (once per device).
    HRESULT prepare(rt::RuntimeDevice& device, HANDLE& hSprite) const;
    /// Draws frame `frame` into surface `sub` of `hTarget`.
    HRESULT draw(rt::RuntimeDevice& device, HANDLE hTarget, UINT sub, HANDLE hSprite,
                 uint32_t frame) const;
    /// The frame as the display shows it (0xAARRGGBB, opaque).
    void expected(uint32_t frame, Image& out) const;

private:
    struct Layout;
    Layout layout(uint32_t frame) const;

    uint32_t m_width;
    uint32_t m_height;
    uint32_t m_sprite;
};

} // namespace app
} // namespace sim
