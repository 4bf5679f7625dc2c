// The moving-rectangles scene: a background, three rectangles, a sprite copied as it is
// and twice its size, a grey bar cleared through the render target, and a counted draw.
#include "sim/app/Scene.h"

#include "sim/runtime/RuntimeDevice.h"

#include <algorithm>

namespace sim {
namespace app {

namespace {

const D3DCOLOR kRectColors[3] = {0xFFE04040u, 0xFF40E040u, 0xFF4040E0u};
const D3DCOLOR kSpriteColors[4] = {0xFFFFFF00u, 0xFF00FFFFu, 0xFFFF00FFu, 0xFFFFFFFFu};
const D3DCOLOR kBarColor = 0xFF808080u;

D3DCOLOR background(uint32_t frame) {
    return 0xFF000000u | (((frame * 2) & 0xFF) << 16) | (0x30u << 8) | 0x50u;
}

void fill(Image& image, const RECT& r, uint32_t color) {
    for (LONG y = r.top; y < r.bottom; ++y)
        std::fill_n(image.pixels.begin() + (size_t(y) * image.width + size_t(r.left)),
                    size_t(r.right - r.left), color);
}

// The sprite's four quadrants.
uint32_t spritePixel(uint32_t size, uint32_t x, uint32_t y) {
    uint32_t half = size / 2;
    return kSpriteColors[(y >= half ? 2 : 0) + (x >= half ? 1 : 0)];
}

} // namespace

bool parseSceneKind(const std::string& text, SceneKind& out) {
    if (text == "rectangles") {
        out = SceneKind::Rectangles;
        return true;
    }
    if (text == "windowed") {
        out = SceneKind::Windowed;
        return true;
    }
    if (text == "composited") {
        out = SceneKind::Composited;
        return true;
    }
    return false;
}

const char* sceneKindName(SceneKind kind) {
    switch (kind) {
    case SceneKind::Windowed:
        return "windowed";
    case SceneKind::Composited:
        return "composited";
    case SceneKind::Rectangles:
        break;
    }
    return "rectangles";
}

struct Scene::Layout {
    RECT rects[3];
    RECT sprite;
    RECT stretched;
    RECT bar;
};

Scene::Scene(uint32_t width, uint32_t height)
    : m_width(std::max<uint32_t>(width, 64)), m_height(std::max<uint32_t>(height, 64)),
      m_sprite(std::min<uint32_t>({64u, m_width / 4, m_height / 4}) & ~1u) {}

Scene::Layout Scene::layout(uint32_t frame) const {
    Layout l;
    LONG rw = LONG(m_width / 8), rh = LONG(m_height / 8);
    for (uint32_t k = 0; k < 3; ++k) {
        LONG x = LONG((frame * (4 + 3 * k) + k * m_width / 4) % (m_width - uint32_t(rw)));
        LONG y = LONG((frame * (2 + k) + k * m_height / 5) % (m_height - uint32_t(rh)));
        l.rects[k] = {x, y, x + rw, y + rh};
    }
    LONG s = LONG(m_sprite);
    LONG sx = LONG((frame * 5) % (m_width - 2 * m_sprite));
    LONG sy = LONG(m_height / 2) - s / 2;
    l.sprite = {sx, sy, sx + s, sy + s};
    LONG tx = LONG(m_width - 2 * m_sprite) - LONG((frame * 3) % (m_width - 2 * m_sprite + 1));
    LONG ty = LONG(m_height) - 2 * s;
    l.stretched = {tx, ty, tx + 2 * s, ty + 2 * s};
    l.bar = {0, 0, LONG(m_width), std::max<LONG>(LONG(m_height / 40), 1)};
    return l;
}

HRESULT Scene::prepare(rt::RuntimeDevice& device, HANDLE& hSprite) const {
    rt::SurfaceDesc desc;
    desc.width = m_sprite;
    desc.height = m_sprite;
    desc.format = D3DDDIFMT_X8R8G8B8;
    desc.flags = 0;
    HRESULT hr = device.createResource(desc, hSprite);
    if (FAILED(hr))
        return hr;
    LONG half = LONG(m_sprite / 2), s = LONG(m_sprite);
    const RECT quadrants[4] = {
        {0, 0, half, half}, {half, 0, s, half}, {0, half, half, s}, {half, half, s, s}};
    for (int q = 0; q < 4 && SUCCEEDED(hr); ++q)
        hr = device.colorFill(hSprite, 0, quadrants[q], kSpriteColors[q]);
    return hr;
}

HRESULT Scene::draw(rt::RuntimeDevice& device, HANDLE hTarget, UINT sub, HANDLE hSprite,
                    uint32_t frame) const {
    Layout l = layout(frame);
    RECT whole = {0, 0, LONG(m_width), LONG(m_height)};
    RECT spriteRect = {0, 0, LONG(m_sprite), LONG(m_sprite)};
    HRESULT hr = device.colorFill(hTarget, sub, whole, background(frame));
    for (uint32_t k = 0; k < 3 && SUCCEEDED(hr); ++k)
        hr = device.colorFill(hTarget, sub, l.rects[k], kRectColors[k]);
    if (SUCCEEDED(hr))
        hr = device.blt(hSprite, 0, spriteRect, hTarget, sub, l.sprite);
    if (SUCCEEDED(hr))
        hr = device.blt(hSprite, 0, spriteRect, hTarget, sub, l.stretched, D3DDDI_BLTFLAGS::Point);
    if (SUCCEEDED(hr))
        hr = device.setRenderTarget(hTarget, sub);
    if (SUCCEEDED(hr))
        hr = device.clear(kBarColor, 1, &l.bar);
    if (SUCCEEDED(hr))
        hr = device.drawPrimitive(2);
    return hr;
}

void Scene::expected(uint32_t frame, Image& out) const {
    Layout l = layout(frame);
    out.width = m_width;
    out.height = m_height;
    out.pixels.assign(size_t(m_width) * m_height, background(frame));
    for (uint32_t k = 0; k < 3; ++k)
        fill(out, l.rects[k], kRectColors[k]);
    for (uint32_t y = 0; y < m_sprite; ++y) {
        for (uint32_t x = 0; x < m_sprite; ++x)
            out.pixels[size_t(l.sprite.top + LONG(y)) * m_width + size_t(l.sprite.left + LONG(x))] =
                spritePixel(m_sprite, x, y);
    }
    // Point sampling of a twice-as-large copy: destination pixel x reads source x / 2.
    for (uint32_t y = 0; y < 2 * m_sprite; ++y) {
        for (uint32_t x = 0; x < 2 * m_sprite; ++x)
            out.pixels[size_t(l.stretched.top + LONG(y)) * m_width +
                       size_t(l.stretched.left + LONG(x))] = spritePixel(m_sprite, x / 2, y / 2);
    }
    fill(out, l.bar, kBarColor);
}

} // namespace app
} // namespace sim
