// Build-time generator of every picture the program reads: the splash logo,
// the window icon, the six sky faces, the monitor faces and the terrain
// textures. Usage: imagegen <run directory> <font directory>
// Everything is drawn procedurally (shapes, value noise, FreeType text), so
// the run directory needs no image that the project did not make itself.
#include <FreeImage.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- colours

struct Rgb {
    float r = 0, g = 0, b = 0;
};

Rgb operator+(Rgb a, Rgb b)
{
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
Rgb operator*(Rgb a, float k)
{
    return {a.r * k, a.g * k, a.b * k};
}
Rgb operator*(Rgb a, Rgb b)
{
    return {a.r * b.r, a.g * b.g, a.b * b.b};
}
Rgb mix(Rgb a, Rgb b, float t)
{
    return a * (1.0f - t) + b * t;
}
Rgb rgb8(int r, int g, int b)
{
    return {r / 255.0f, g / 255.0f, b / 255.0f};
}

float clamp01(float v)
{
    return std::clamp(v, 0.0f, 1.0f);
}
// A channel in [0, 1] (clamped) as a byte.
uint8_t toByte(float v)
{
    return static_cast<uint8_t>(std::lround(clamp01(v) * 255));
}
float smoothstep(float edge0, float edge1, float x)
{
    const float t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0f - 2.0f * t);
}

// ---------------------------------------------------------------- picture

// Signed distance (negative inside) from (x, y) to the rectangle centred on
// (cx, cy) whose straight edges reach hx, hy from the centre, rounded by `radius`.
float roundedRectDistance(float x, float y, float cx, float cy, float hx, float hy, float radius)
{
    const float qx = std::fabs(x - cx) - hx, qy = std::fabs(y - cy) - hy;
    const float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0f) - radius;
}

// An RGB picture in floats, row 0 at the top; shapes are anti-aliased by
// turning a signed distance into coverage.
class Picture {
public:
    Picture(int width, int height, Rgb fill = {})
        : width(width), height(height), pixels(static_cast<size_t>(width) * height, fill)
    {
    }
    Rgb& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
    void blend(int x, int y, Rgb colour, float alpha)
    {
        if (x < 0 || y < 0 || x >= width || y >= height || alpha <= 0.0f) {
            return;
        }
        Rgb& p = at(x, y);
        p = mix(p, colour, clamp01(alpha));
    }
    // Calls shade(x, y) for every pixel and stores the result.
    template <typename Shader>
    void paint(Shader shade)
    {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                at(x, y) = shade(x, y);
            }
        }
    }
    // Covers the pixels whose centre lies inside a shape given by its signed
    // distance (negative inside), within the bounding rectangle.
    template <typename Distance>
    void fillShape(float x0, float y0, float x1, float y1, Rgb colour, float alpha, Distance distance)
    {
        const int xa = std::max(0, static_cast<int>(std::floor(x0)) - 1);
        const int ya = std::max(0, static_cast<int>(std::floor(y0)) - 1);
        const int xb = std::min(width - 1, static_cast<int>(std::ceil(x1)) + 1);
        const int yb = std::min(height - 1, static_cast<int>(std::ceil(y1)) + 1);
        for (int y = ya; y <= yb; ++y) {
            for (int x = xa; x <= xb; ++x) {
                const float d = distance(x + 0.5f, y + 0.5f);
                blend(x, y, colour, alpha * clamp01(0.5f - d));
            }
        }
    }
    void roundedRect(float x0, float y0, float x1, float y1, float radius, Rgb colour, float alpha = 1.0f)
    {
        const float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
        const float hx = (x1 - x0) / 2 - radius, hy = (y1 - y0) / 2 - radius;
        fillShape(x0, y0, x1, y1, colour, alpha,
                  [=](float x, float y) { return roundedRectDistance(x, y, cx, cy, hx, hy, radius); });
    }
    void rect(float x0, float y0, float x1, float y1, Rgb colour, float alpha = 1.0f)
    {
        roundedRect(x0, y0, x1, y1, 0.0f, colour, alpha);
    }
    void disc(float cx, float cy, float radius, Rgb colour, float alpha = 1.0f)
    {
        fillShape(cx - radius, cy - radius, cx + radius, cy + radius, colour, alpha,
                  [=](float x, float y) { return std::hypot(x - cx, y - cy) - radius; });
    }
    void ring(float cx, float cy, float radius, float thickness, Rgb colour, float alpha = 1.0f)
    {
        const float outer = radius + thickness / 2;
        fillShape(cx - outer, cy - outer, cx + outer, cy + outer, colour, alpha, [=](float x, float y) {
            return std::fabs(std::hypot(x - cx, y - cy) - radius) - thickness / 2;
        });
    }
    // A segment with round caps.
    void line(float ax, float ay, float bx, float by, float thickness, Rgb colour, float alpha = 1.0f)
    {
        const float r = thickness / 2;
        fillShape(std::min(ax, bx) - r, std::min(ay, by) - r, std::max(ax, bx) + r, std::max(ay, by) + r,
                  colour, alpha, [=](float x, float y) {
                      const float dx = bx - ax, dy = by - ay;
                      const float len2 = dx * dx + dy * dy;
                      const float t = len2 > 0 ? clamp01(((x - ax) * dx + (y - ay) * dy) / len2) : 0.0f;
                      return std::hypot(x - (ax + t * dx), y - (ay + t * dy)) - r;
                  });
    }

    int width;
    int height;
    std::vector<Rgb> pixels;
};

// ---------------------------------------------------------------- noise

uint32_t hash(int x, int y, int z, uint32_t seed)
{
    uint32_t h = seed ^ 0x9E3779B9u;
    for (const int v : {x, y, z}) {
        h ^= static_cast<uint32_t>(v) + 0x7F4A7C15u + (h << 6) + (h >> 2);
        h *= 0x85EBCA6Bu;
        h ^= h >> 13;
    }
    return h;
}

float lattice(int x, int y, int z, uint32_t seed)
{
    return (hash(x, y, z, seed) & 0xFFFFFF) / float(0xFFFFFF);
}

float fade(float t)
{
    return t * t * t * (t * (t * 6 - 15) + 10);
}

int wrap(int v, int period)
{
    return period > 0 ? ((v % period) + period) % period : v;
}

// Value noise in [0, 1]; with a period the pattern repeats every `period`
// units in x and y, which makes textures that tile seamlessly.
float valueNoise(float x, float y, float z, uint32_t seed, int period = 0)
{
    const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
    const int zi = static_cast<int>(std::floor(z));
    const float u = fade(x - xi), v = fade(y - yi), w = fade(z - zi);
    auto at = [&](int dx, int dy, int dz) {
        return lattice(wrap(xi + dx, period), wrap(yi + dy, period), zi + dz, seed);
    };
    auto plane = [&](int dz) {
        const float a = at(0, 0, dz) + (at(1, 0, dz) - at(0, 0, dz)) * u;
        const float b = at(0, 1, dz) + (at(1, 1, dz) - at(0, 1, dz)) * u;
        return a + (b - a) * v;
    };
    const float p0 = plane(0);
    return p0 + (plane(1) - p0) * w;
}

// Fractal sum of octaves, normalised to [0, 1].
float fbm(float x, float y, float z, int octaves, uint32_t seed, int period = 0)
{
    float sum = 0, amplitude = 0.5f, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * valueNoise(x, y, z, seed + i * 101u, period);
        total += amplitude;
        x *= 2, y *= 2, z *= 2;
        period *= 2;
        amplitude *= 0.5f;
    }
    return sum / total;
}

// Small deterministic random source for scattered details.
class Random {
public:
    explicit Random(uint32_t seed) : state(seed) {}
    float next()
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / float(1 << 24);
    }
    float range(float a, float b) { return a + (b - a) * next(); }

private:
    uint32_t state;
};

// ---------------------------------------------------------------- text

class Typeface {
public:
    Typeface(FT_Library library, const std::string& path)
    {
        if (FT_New_Face(library, path.c_str(), 0, &face) != 0) {
            throw std::runtime_error("cannot open font " + path);
        }
    }
    ~Typeface() { FT_Done_Face(face); }
    Typeface(const Typeface&) = delete;
    Typeface& operator=(const Typeface&) = delete;

    // Width in pixels of an ASCII string at a pixel size.
    float measure(const std::string& text, int pixelSize)
    {
        FT_Set_Pixel_Sizes(face, 0, pixelSize);
        float width = 0;
        for (const unsigned char c : text) {
            if (FT_Load_Char(face, c, FT_LOAD_DEFAULT) == 0) {
                width += face->glyph->advance.x / 64.0f;
            }
        }
        return width;
    }
    // Draws text with its baseline at y, starting at x; letter spacing in pixels.
    void draw(Picture& picture, const std::string& text, float x, float y, int pixelSize, Rgb colour,
              float alpha = 1.0f, float spacing = 0.0f)
    {
        FT_Set_Pixel_Sizes(face, 0, pixelSize);
        for (const unsigned char c : text) {
            if (FT_Load_Char(face, c, FT_LOAD_RENDER) != 0) {
                continue;
            }
            const FT_GlyphSlot g = face->glyph;
            const int left = static_cast<int>(std::lround(x)) + g->bitmap_left;
            const int top = static_cast<int>(std::lround(y)) - g->bitmap_top;
            for (unsigned row = 0; row < g->bitmap.rows; ++row) {
                for (unsigned col = 0; col < g->bitmap.width; ++col) {
                    const float coverage = g->bitmap.buffer[row * g->bitmap.pitch + col] / 255.0f;
                    picture.blend(left + static_cast<int>(col), top + static_cast<int>(row), colour,
                                  alpha * coverage);
                }
            }
            x += g->advance.x / 64.0f + spacing;
        }
    }
    void drawCentred(Picture& picture, const std::string& text, float centreX, float y, int pixelSize,
                     Rgb colour, float alpha = 1.0f, float spacing = 0.0f)
    {
        const float width = measure(text, pixelSize) + spacing * (text.size() - 1);
        draw(picture, text, centreX - width / 2, y, pixelSize, colour, alpha, spacing);
    }

private:
    FT_Face face = nullptr;
};

struct Fonts {
    Typeface& regular;
    Typeface& bold;
};

// ---------------------------------------------------------------- files

// Writes the picture through FreeImage, whose row 0 is the bottom row.
void save(const Picture& picture, const std::string& path, FREE_IMAGE_FORMAT format, int flags)
{
    FIBITMAP* bitmap = FreeImage_Allocate(picture.width, picture.height, 24);
    if (!bitmap) {
        throw std::runtime_error("cannot allocate a bitmap for " + path);
    }
    for (int y = 0; y < picture.height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap, picture.height - 1 - y);
        for (int x = 0; x < picture.width; ++x) {
            const Rgb& p = picture.pixels[static_cast<size_t>(y) * picture.width + x];
            line[x * 3 + FI_RGBA_RED] = toByte(p.r);
            line[x * 3 + FI_RGBA_GREEN] = toByte(p.g);
            line[x * 3 + FI_RGBA_BLUE] = toByte(p.b);
        }
    }
    const bool saved = FreeImage_Save(format, bitmap, path.c_str(), flags);
    FreeImage_Unload(bitmap);
    if (!saved) {
        throw std::runtime_error("cannot write " + path);
    }
}

void saveJpeg(const Picture& picture, const std::string& path)
{
    save(picture, path, FIF_JPEG, JPEG_QUALITYSUPERB);
}

void putLittleEndian(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// A 32-bit BMP with the classic BITMAPINFOHEADER (the header every reader
// knows): BGRA pixels, rows bottom-up, pixel data right after the 14 + 40
// header bytes. The fourth byte of each pixel carries the alpha.
void saveBmp32(const Picture& picture, const std::vector<float>& alpha, const std::string& path)
{
    constexpr uint32_t fileHeaderSize = 14, infoHeaderSize = 40;
    constexpr uint32_t pixelOffset = fileHeaderSize + infoHeaderSize;
    const uint32_t imageSize = static_cast<uint32_t>(picture.width * picture.height * 4);
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    putLittleEndian(out, pixelOffset + imageSize, 4);
    putLittleEndian(out, 0, 4);  // reserved
    putLittleEndian(out, pixelOffset, 4);
    putLittleEndian(out, infoHeaderSize, 4);
    putLittleEndian(out, static_cast<uint32_t>(picture.width), 4);
    putLittleEndian(out, static_cast<uint32_t>(picture.height), 4);  // positive: bottom-up
    putLittleEndian(out, 1, 2);                                      // planes
    putLittleEndian(out, 32, 2);                                     // bits per pixel
    putLittleEndian(out, 0, 4);                                      // BI_RGB
    putLittleEndian(out, imageSize, 4);
    putLittleEndian(out, 2835, 4);  // 72 dpi
    putLittleEndian(out, 2835, 4);
    putLittleEndian(out, 0, 4);  // palette colours
    putLittleEndian(out, 0, 4);  // important colours
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) {
            const size_t i = static_cast<size_t>(y) * picture.width + x;
            const Rgb& p = picture.pixels[i];
            out.insert(out.end(), {toByte(p.b), toByte(p.g), toByte(p.r), toByte(alpha[i])});
        }
    }
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

// ---------------------------------------------------------------- the pictures

const Rgb splashGreen = {0.2f, 0.7f, 0.3f};  // the splash window's clear colour
const Rgb white = {1, 1, 1};

// A pointer's trail: a smooth wandering path with the places it rested.
void drawTrail(Picture& p, float x0, float y0, float scale, float thickness, Rgb colour, Rgb stopColour)
{
    std::vector<std::array<float, 2>> points;
    for (int i = 0; i <= 60; ++i) {
        const float t = i / 60.0f;
        points.push_back({x0 + scale * t, y0 - scale * (0.35f * std::sin(t * 5.2f) + 0.6f * t * t - 0.1f)});
    }
    for (size_t i = 1; i < points.size(); ++i) {
        p.line(points[i - 1][0], points[i - 1][1], points[i][0], points[i][1], thickness, colour);
    }
    for (const size_t i : {size_t{0}, size_t{22}, size_t{41}}) {
        p.disc(points[i][0], points[i][1], thickness * 1.6f, stopColour);
    }
    p.disc(points.back()[0], points.back()[1], thickness * 2.2f, colour);
}

void makeLogo(const std::string& path, Fonts fonts)
{
    constexpr int width = 512, height = 256;
    Picture p(width, height);
    p.paint([&](int x, int y) {
        const float dx = (x - width * 0.5f) / width, dy = (y - height * 0.45f) / height;
        const float glow = 1.0f - smoothstep(0.0f, 0.75f, std::sqrt(dx * dx + dy * dy));
        return mix(splashGreen * 0.9f, splashGreen * 1.18f, glow);
    });
    // Emblem (a ring holding a pointer trail) and the name, centred together.
    constexpr int nameSize = 56;
    constexpr float r = 66, gap = 26;
    const float nameWidth = fonts.bold.measure("Velmorin", nameSize);
    const float left = (width - (2 * r + 8 + gap + nameWidth)) / 2;
    const float cx = left + r + 4, cy = 124;
    p.disc(cx + 3, cy + 4, r + 6, rgb8(20, 80, 35), 0.35f);
    p.disc(cx, cy, r + 4, rgb8(245, 250, 245));
    p.disc(cx, cy, r - 4, rgb8(28, 112, 52));
    drawTrail(p, cx - 44, cy + 10, 88, 5, white, rgb8(255, 196, 64));
    const float textX = cx + r + 4 + gap;
    const Rgb shadow = rgb8(18, 70, 32);
    fonts.bold.draw(p, "Velmorin", textX + 3, 137, nameSize, shadow, 0.5f);
    fonts.bold.draw(p, "Velmorin", textX, 134, nameSize, white);
    p.rect(textX + 2, 150, textX + nameWidth, 153, white, 0.85f);
    fonts.regular.draw(p, "POINTER TRACKER", textX + 4, 178, 19, rgb8(230, 248, 232), 1.0f, 3.0f);
    save(p, path, FIF_PNG, PNG_DEFAULT);
}

void makeIcon(const std::string& path)
{
    constexpr int size = 32;
    Picture p(size, size);
    std::vector<float> alpha(size * size, 0.0f);
    // The shape's coverage becomes the icon's alpha; colours are painted everywhere.
    p.paint([&](int, int y) { return mix(rgb8(60, 200, 95), rgb8(24, 120, 58), y / 31.0f); });
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const float d = roundedRectDistance(x + 0.5f, y + 0.5f, 16, 16, 10, 10, 5.5f);
            alpha[y * size + x] = clamp01(0.5f - d);
        }
    }
    p.line(9, 9, 16, 24, 3.4f, white);
    p.line(16, 24, 23, 9, 3.4f, white);
    p.disc(23, 9, 3.0f, rgb8(255, 196, 64));
    saveBmp32(p, alpha, path);
}

// The sky seen in a direction (y up): a gradient from the horizon haze to the
// zenith, a sun with its glow, and clouds on a plane above the viewer. Being a
// function of direction only, the six faces meet without seams.
Rgb skyColour(float dx, float dy, float dz)
{
    const float length = std::sqrt(dx * dx + dy * dy + dz * dz);
    dx /= length, dy /= length, dz /= length;
    const Rgb zenith = rgb8(38, 96, 190), horizon = rgb8(186, 214, 238);
    const Rgb below = rgb8(120, 140, 150);
    Rgb colour = dy >= 0 ? mix(horizon, zenith, std::pow(dy, 0.55f))
                         : mix(horizon * 0.96f, below, std::pow(-dy, 0.6f));

    const float sx = 0.62f, sy = 0.42f, sz = -0.66f;  // towards the sun (normalised below)
    const float sl = std::sqrt(sx * sx + sy * sy + sz * sz);
    const float toSun = std::max(0.0f, (dx * sx + dy * sy + dz * sz) / sl);
    const Rgb sunLight = rgb8(255, 244, 214);
    colour = colour + sunLight * (0.28f * std::pow(toSun, 6.0f) + 0.5f * std::pow(toSun, 180.0f));

    if (dy > 0.0f) {
        const float u = dx / (dy + 0.08f), v = dz / (dy + 0.08f);
        const float density = fbm(u * 1.3f + 20.0f, v * 1.3f + 7.0f, 0.5f, 6, 77);
        const float detail = fbm(u * 5.0f, v * 5.0f, 3.5f, 3, 91);
        const float cover = smoothstep(0.48f, 0.72f, density) * smoothstep(0.02f, 0.22f, dy);
        const float shade = 0.78f + 0.22f * smoothstep(0.4f, 0.8f, detail);
        const Rgb cloud =
            mix(rgb8(200, 208, 222), rgb8(255, 255, 252), shade) + sunLight * (0.25f * std::pow(toSun, 4.0f));
        colour = mix(colour, cloud, cover * 0.92f);
    }
    // The solid sun disc sits in front of the clouds' thin edges.
    colour = mix(colour, rgb8(255, 252, 236), smoothstep(0.99955f, 0.99975f, toSun));
    return colour;
}

void makeSkybox(const std::string& directory)
{
    constexpr int size = 512;
    // Cube-map face i and the direction of its texel (s, t) in [-1, 1], t
    // growing downwards, as OpenGL samples cube maps.
    struct Face {
        const char* name;
        std::array<float, 3> (*direction)(float s, float t);
    };
    const Face faces[] = {
        {"right",
         [](float s, float t) {
             return std::array<float, 3>{1, -t, -s};
         }},
        {"left",
         [](float s, float t) {
             return std::array<float, 3>{-1, -t, s};
         }},
        {"top",
         [](float s, float t) {
             return std::array<float, 3>{s, 1, t};
         }},
        {"bottom",
         [](float s, float t) {
             return std::array<float, 3>{s, -1, -t};
         }},
        {"front",
         [](float s, float t) {
             return std::array<float, 3>{s, -t, 1};
         }},
        {"back",
         [](float s, float t) {
             return std::array<float, 3>{-s, -t, -1};
         }},
    };
    for (const Face& face : faces) {
        Picture p(size, size);
        p.paint([&](int x, int y) {
            const auto d = face.direction(2.0f * (x + 0.5f) / size - 1.0f, 2.0f * (y + 0.5f) / size - 1.0f);
            return skyColour(d[0], d[1], d[2]);
        });
        saveJpeg(p, directory + "/" + face.name + ".jpg");
    }
}

// Monitor face: a bezel around a screen. The canvas shows only the lower-left
// corner of the picture on its sides (4.5 % each way, 29 rows), so that corner
// must be bezel.
constexpr int monitorWidth = 1024, monitorHeight = 640;
constexpr float bezel = 40;

// The tracker draws the whole screen onto 1 / 1.11 of the face's half-size
// (its plot shrink), so route, speed and stops land on 5 % to 95 % of the
// picture each way: that region, and only it, is the plotting monitors' graph
// paper. Their bezel is thinner so that the region lies on the screen.
constexpr float plotReach = 1.0f / 1.11f;
constexpr float plotBezel = 30;

Picture monitorFrame(Rgb screenTop, Rgb screenBottom, float rim = bezel)
{
    Picture p(monitorWidth, monitorHeight);
    p.paint([&](int x, int y) {
        const float edge =
            std::min({float(x), float(y), float(monitorWidth - 1 - x), float(monitorHeight - 1 - y)});
        const Rgb body = rgb8(44, 48, 54);
        return mix(body * 1.25f, body, smoothstep(0.0f, 10.0f, edge));
    });
    p.roundedRect(rim - 4, rim - 4, monitorWidth - rim + 4, monitorHeight - rim + 4, 10, rgb8(20, 22, 25));
    const float top = rim, bottom = monitorHeight - rim;
    for (int y = static_cast<int>(top); y < static_cast<int>(bottom); ++y) {
        const Rgb colour = mix(screenTop, screenBottom, (y - top) / (bottom - top));
        p.rect(rim, static_cast<float>(y), monitorWidth - rim, y + 1.0f, colour);
    }
    return p;
}

// Graph paper for the plotting monitors: fine and bold grid lines and a frame.
void drawGrid(Picture& p, float x0, float y0, float x1, float y1, int columns, int rows)
{
    const Rgb minor = rgb8(214, 223, 235), major = rgb8(176, 192, 212), frame = rgb8(118, 134, 156);
    p.rect(x0, y0, x1, y1, rgb8(250, 251, 253), 0.7f);
    for (int i = 0; i <= columns * 2; ++i) {
        const float x = x0 + (x1 - x0) * i / (columns * 2);
        p.line(x, y0, x, y1, i % 2 == 0 ? 1.6f : 0.8f, i % 2 == 0 ? major : minor);
    }
    for (int i = 0; i <= rows * 2; ++i) {
        const float y = y0 + (y1 - y0) * i / (rows * 2);
        p.line(x0, y, x1, y, i % 2 == 0 ? 1.6f : 0.8f, i % 2 == 0 ? major : minor);
    }
    p.line(x0, y0, x1, y0, 2, frame);
    p.line(x1, y0, x1, y1, 2, frame);
    p.line(x1, y1, x0, y1, 2, frame);
    p.line(x0, y1, x0, y0, 2, frame);
}

// A plotting monitor: graph paper over exactly the region the tracker plots
// on, with the title, a caption and the axes' note small and muted in its
// corners, so that a plotted line reads against the grid, not the lettering.
void makePlotMonitor(const std::string& path, Fonts fonts, const std::string& title,
                     const std::string& subtitle, const std::string& axes, Rgb accent)
{
    Picture p = monitorFrame(rgb8(240, 243, 247), rgb8(226, 232, 240), plotBezel);
    const float margin = (1.0f - plotReach) / 2;
    const float gx0 = monitorWidth * margin, gx1 = monitorWidth - gx0;
    const float gy0 = monitorHeight * margin, gy1 = monitorHeight - gy0;
    drawGrid(p, gx0, gy0, gx1, gy1, 10, 6);

    const Rgb titleColour = rgb8(104, 118, 140), noteColour = rgb8(136, 148, 166);
    p.roundedRect(gx0 + 12, gy0 + 12, gx0 + 16, gy0 + 32, 2, accent, 0.6f);
    fonts.bold.draw(p, title, gx0 + 24, gy0 + 30, 20, titleColour, 1.0f, 2.0f);
    fonts.regular.draw(p, subtitle, gx0 + 24, gy0 + 50, 14, noteColour);
    fonts.regular.draw(p, axes, gx1 - 12 - fonts.regular.measure(axes, 14), gy1 - 12, 14, noteColour);
    saveJpeg(p, path);
}

void makeInfoMonitor(const std::string& path, Fonts fonts)
{
    Picture p = monitorFrame(rgb8(12, 14, 18), rgb8(4, 5, 7));
    // Faint scan lines and a soft glow in the middle give the dark glass depth.
    for (int y = static_cast<int>(bezel); y < monitorHeight - bezel; y += 4) {
        p.rect(bezel, static_cast<float>(y), monitorWidth - bezel, y + 1.0f, rgb8(40, 60, 70), 0.12f);
    }
    // The statistics rows and the help text fill the glass from its top edge,
    // so the monitor's name sits small in the bottom-right corner, clear of them.
    // The scene lifts a long help text off this corner (qvInfoHeading in
    // source/scene/qvinfotextfit.h): moving the heading means moving that too.
    const Rgb accent = rgb8(90, 200, 190), caption = rgb8(70, 120, 120);
    const float right = monitorWidth - bezel - 24, baseline = monitorHeight - bezel - 20;
    const std::string title = "INFORMATION", subtitle = "statistics and help";
    constexpr float titleSpacing = 2.0f;
    const float titleWidth = fonts.bold.measure(title, 20) + titleSpacing * title.size();
    const float subtitleWidth = fonts.regular.measure(subtitle, 14);
    const float left = right - std::max(titleWidth, subtitleWidth);
    p.roundedRect(left - 14, baseline - 38, left - 10, baseline, 2, accent, 0.6f);
    fonts.bold.draw(p, title, left, baseline - 20, 20, accent, 0.8f, titleSpacing);
    fonts.regular.draw(p, subtitle, left, baseline, 14, caption);
    saveJpeg(p, path);
}

void makeDefaultMonitor(const std::string& path, Fonts fonts)
{
    Picture p = monitorFrame(rgb8(26, 30, 40), rgb8(12, 14, 20));
    const Rgb bars[] = {rgb8(192, 192, 192), rgb8(192, 192, 0), rgb8(0, 192, 192), rgb8(0, 192, 0),
                        rgb8(192, 0, 192),   rgb8(192, 0, 0),   rgb8(0, 0, 192)};
    const float x0 = bezel + 60, x1 = monitorWidth - bezel - 60, barWidth = (x1 - x0) / 7;
    for (int i = 0; i < 7; ++i) {
        p.rect(x0 + i * barWidth, monitorHeight - bezel - 170, x0 + (i + 1) * barWidth,
               monitorHeight - bezel - 60, bars[i], 0.85f);
    }
    fonts.bold.drawCentred(p, "VELMORIN MONITOR", monitorWidth / 2.0f, 230, 56, rgb8(235, 240, 248), 1.0f,
                           3.0f);
    fonts.regular.drawCentred(p, "no signal - waiting for data", monitorWidth / 2.0f, 290, 28,
                              rgb8(150, 160, 178));
    saveJpeg(p, path);
}

// Calls draw(ox, oy) for each copy, shifted by whole tiles, of a detail spanning
// [x0, x1] x [y0, y1] that overlaps a tile of `size`: details crossing an edge tile.
template <typename Draw>
void drawWrapped(float size, float x0, float y0, float x1, float y1, Draw draw)
{
    for (const float ox : {-size, 0.0f, size}) {
        for (const float oy : {-size, 0.0f, size}) {
            if (x0 + ox < size && x1 + ox >= 0 && y0 + oy < size && y1 + oy >= 0) {
                draw(ox, oy);
            }
        }
    }
}

// Short grass seen from above: mottled greens and many thin blades, tiling.
void makeGrass(const std::string& path)
{
    constexpr int size = 512;
    constexpr int period = 8;  // noise cells across the texture
    Picture p(size, size);
    p.paint([&](int x, int y) {
        const float u = x * float(period) / size, v = y * float(period) / size;
        const float n = fbm(u, v, 0.0f, 5, 11, period);
        return mix(rgb8(46, 96, 30), rgb8(110, 160, 58), smoothstep(0.25f, 0.75f, n));
    });
    Random random(1234);
    for (int i = 0; i < 9000; ++i) {
        const float x = random.range(0, size), y = random.range(0, size);
        const float angle = random.range(-0.5f, 0.5f) - 1.5708f;
        const float length = random.range(5, 14);
        const Rgb colour = mix(rgb8(60, 120, 36), rgb8(150, 200, 80), random.next());
        const float ex = x + std::cos(angle) * length, ey = y + std::sin(angle) * length;
        drawWrapped(
            size, std::min(x, ex), std::min(y, ey), std::max(x, ex), std::max(y, ey),
            [&](float ox, float oy) { p.line(x + ox, y + oy, ex + ox, ey + oy, 1.3f, colour, 0.7f); });
    }
    saveJpeg(p, path);
}

// Bare earth for the terrain: brown soil with darker patches and pebbles, tiling.
void makeTerrain(const std::string& path)
{
    constexpr int size = 512;
    constexpr int period = 6;
    Picture p(size, size);
    p.paint([&](int x, int y) {
        const float u = x * float(period) / size, v = y * float(period) / size;
        const float broad = fbm(u, v, 0.0f, 4, 21, period);
        const float grain = valueNoise(x * 0.5f, y * 0.5f, 0.0f, 23, size / 2);
        const Rgb soil = mix(rgb8(92, 66, 44), rgb8(150, 116, 78), smoothstep(0.3f, 0.7f, broad));
        return soil * (0.88f + 0.24f * grain);
    });
    Random random(4321);
    for (int i = 0; i < 260; ++i) {
        const float x = random.range(0, size), y = random.range(0, size);
        const float r = random.range(1.5f, 4.5f);
        const Rgb stone = mix(rgb8(104, 94, 84), rgb8(158, 146, 128), random.next());
        const float reach = r + 2;  // the stone with its shadow
        drawWrapped(size, x - reach, y - reach, x + reach, y + reach, [&](float ox, float oy) {
            p.disc(x + ox + 1.0f, y + oy + 1.2f, r, rgb8(50, 36, 24), 0.5f);  // shadow
            p.disc(x + ox, y + oy, r, stone);
            p.disc(x + ox - r * 0.3f, y + oy - r * 0.3f, r * 0.45f, stone * 1.15f, 0.6f);
        });
    }
    saveJpeg(p, path);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <run directory> <font directory>\n", argv[0]);
        return 2;
    }
    const std::string run = argv[1], fontDirectory = argv[2];
    FreeImage_Initialise();
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        std::fprintf(stderr, "imagegen: FreeType could not be initialised\n");
        return 1;
    }
    int status = 0;
    try {
        Typeface regular(library, fontDirectory + "/DejaVuSans.ttf");
        Typeface bold(library, fontDirectory + "/DejaVuSans-Bold.ttf");
        const Fonts fonts{regular, bold};
        makeLogo(run + "/textures/logo.png", fonts);
        makeIcon(run + "/icons/icon.bmp");
        makeSkybox(run + "/skybox/art");
        makeInfoMonitor(run + "/textures/monitor_info_black.jpg", fonts);
        makePlotMonitor(run + "/textures/monitor_route.jpg", fonts, "ROUTE",
                        "the pointer's path across the whole screen", "the screen, top edge up",
                        rgb8(26, 51, 230));
        makePlotMonitor(run + "/textures/monitor_speed.jpg", fonts, "SPEED", "pointer speed over time",
                        "time to the right, px/100ms up", rgb8(26, 51, 230));
        makePlotMonitor(run + "/textures/monitor_stops.jpg", fonts, "STOPS",
                        "where the pointer rested for half a second", "the screen, top edge up",
                        rgb8(230, 40, 30));
        makeDefaultMonitor(run + "/textures/monitor_default.jpg", fonts);
        makeGrass(run + "/textures/grass.jpg");
        makeTerrain(run + "/textures/0096-512x512.jpg");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "imagegen: %s\n", error.what());
        status = 1;
    }
    FT_Done_FreeType(library);
    FreeImage_DeInitialise();
    return status;
}
