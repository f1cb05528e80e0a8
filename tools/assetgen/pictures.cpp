// tools/assetgen/pictures.cpp — blood decals, scope and crosshair, splash pictures, the main
// menu's character stills, the corridor logos and readme.txt.
#include "tools/assetgen/character.h"

#include <algorithm>
#include <cmath>

namespace assetgen {

namespace {

constexpr glm::vec3 kGold(0.95f, 0.72f, 0.25f);

// Nine frames of a blood splash growing and fading; black is the decal's transparent colour,
// so every drawn pixel keeps some red.
Image BloodFrame(int frame) {
    Image img(16, 16);
    const float t = float(frame) / 8.f;
    const float radius = 2.f + 5.5f * std::sqrt(t);
    const float fade = 1.f - 0.75f * t;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const float dx = x + 0.5f - 8.f, dy = y + 0.5f - 8.f;
            const float ang = std::atan2(dy, dx);
            const float ragged =
                radius * (0.75f + 0.35f * float(ValueNoise(ang * 2.5 + 10, t * 2, 77)));
            const float d = std::hypot(dx, dy);
            if (d < ragged) {
                const float shade = (0.55f + 0.45f * (1 - d / ragged)) * fade;
                img.At(x, y) =
                    glm::vec3(std::max(0.08f, 0.75f * shade), 0.02f * shade, 0.02f * shade);
            }
        }
    // Droplets flung outwards.
    Rng rng(500);
    for (int k = 0; k < 6; ++k) {
        const float a = float(rng.Range(0, 6.2831853)), r = radius + 1.5f + float(rng.Range(0, 2));
        if (frame >= 2)
            img.Set(int(8 + std::cos(a) * r), int(8 + std::sin(a) * r),
                    glm::vec3(0.5f * fade + 0.1f, 0, 0));
    }
    return img;
}

Image Scope() {
    // Dark mask around a clear (black = transparent) lens with a fine reticle.
    Image img(256, 256);
    const glm::vec3 mask(0.03f, 0.03f, 0.035f), reticle(0.05f, 0.05f, 0.05f);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const float d = std::hypot(x + 0.5f - 128.f, y + 0.5f - 128.f);
            if (d > 118.f)
                img.At(x, y) = mask;
            else if (d > 114.f)
                img.At(x, y) = glm::vec3(0.12f, 0.12f, 0.13f);
        }
    img.FillRect(8, 127, 248, 129, reticle);
    img.FillRect(127, 8, 129, 248, reticle);
    img.FillRect(20, 125, 100, 131, reticle); // thick posts outside the centre
    img.FillRect(156, 125, 236, 131, reticle);
    img.FillRect(125, 156, 131, 236, reticle);
    for (int k = 1; k <= 4; ++k)
        img.FillRect(124, 128 + k * 6, 132, 129 + k * 6, reticle);
    return img;
}

Image Crosshair() {
    // Shown a fifth of the view high: four arms with a gap and a centre dot, a few pixels wide
    // on screen, on a transparent (black) ground.
    Image img(256, 256);
    const glm::vec3 green(0.2f, 1.0f, 0.3f);
    img.FillRect(40, 123, 104, 133, green);
    img.FillRect(152, 123, 216, 133, green);
    img.FillRect(123, 40, 133, 104, green);
    img.FillRect(123, 152, 133, 216, green);
    img.FillRect(121, 121, 135, 135, glm::vec3(1.f, 0.3f, 0.2f));
    return img;
}

// Gritty dark background with a vignette.
Image Backdrop(int w, int h, glm::vec3 tint, uint32_t seed) {
    Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float n = float(Fbm(x / 40.0, y / 40.0, seed, 5));
            const float vx = (x - w * 0.5f) / (w * 0.5f), vy = (y - h * 0.5f) / (h * 0.5f);
            const float vignette = std::clamp(1.1f - 0.55f * (vx * vx + vy * vy), 0.f, 1.f);
            img.At(x, y) = tint * (0.35f + 0.9f * n) * vignette;
        }
    return img;
}

void Title(Image& img, int y, int scale, const char* text) {
    const int w = Image::TextWidth(text, scale);
    const int x = (img.width() - w) / 2;
    img.Text(x + scale / 2 + 1, y + scale / 2 + 1, text, scale, glm::vec3(0.02f));
    img.Text(x, y, text, scale, kGold);
    // Highlight the top row of every letter.
    for (int yy = y; yy < y + scale; ++yy)
        for (int xx = x; xx < x + w; ++xx)
            if (img.At(xx, yy) == kGold) img.At(xx, yy) = glm::vec3(1.f, 0.93f, 0.7f);
}

// Front view of the character for the menu stills: flat-shaded triangles with the skin colours.
Image CharacterStill(int team, const Image& skin) {
    Image img =
        Backdrop(128, 192, team == 0 ? glm::vec3(0.5f, 0.35f, 0.2f) : glm::vec3(0.2f, 0.28f, 0.5f),
                 team == 0 ? 61u : 62u);
    const XMesh m = PreviewMesh(CharacterMesh(team), CharacterAimPose("rifle"), 0);
    std::vector<const Poly*> order;
    for (const Poly& p : m.polys)
        order.push_back(&p);
    // Seen from the front (looking along -z): far triangles (small z) are covered by near ones.
    std::stable_sort(order.begin(), order.end(), [](const Poly* a, const Poly* b) {
        return a->p[0].z + a->p[1].z + a->p[2].z < b->p[0].z + b->p[1].z + b->p[2].z;
    });
    const float scale = 2.3f;
    for (const Poly* p : order) {
        glm::vec2 q[3];
        // The viewer faces the character: its right (+x) appears on the picture's left.
        for (int k = 0; k < 3; ++k)
            q[k] = {64.f - p->p[size_t(k)].x * scale, 100.f - p->p[size_t(k)].y * scale};
        const glm::vec3 n = glm::normalize(p->n[0] + p->n[1] + p->n[2]);
        const float light =
            0.35f +
            0.75f * std::max(0.f, glm::dot(n, glm::normalize(glm::vec3(-0.3f, 0.5f, 0.8f))));
        const glm::vec2 uv = (p->uv[0] + p->uv[1] + p->uv[2]) / 3.f;
        const glm::vec3 c =
            skin.At(std::clamp(int(uv.x * 255), 0, 255), std::clamp(int(uv.y * 255), 0, 255));
        img.FillTriangle(q[0], q[1], q[2], c * light);
    }
    img.Text(64 - Image::TextWidth(team == 0 ? "TERRORIST" : "GIGN", 1) / 2, 180,
             team == 0 ? "TERRORIST" : "GIGN", 1, kGold);
    return img;
}

Image Splash(int index, const Image& terror, const Image& gign) {
    Image img = Backdrop(400, 300,
                         index == 1 ? glm::vec3(0.45f, 0.18f, 0.1f) : glm::vec3(0.3f, 0.3f, 0.34f),
                         70u + uint32_t(index));
    if (index == 0) {
        // Title over the two teams' fighters.
        for (int y = 0; y < 176; ++y)
            for (int x = 0; x < 128; ++x) {
                img.Blend(20 + x, 84 + y, terror.At(x, y), 0.9f);
                img.Blend(252 + x, 84 + y, gign.At(x, y), 0.9f);
            }
        Title(img, 30, 7, "TARNHOLD");
        img.Text(200 - Image::TextWidth("TERRORIST VS GIGN", 2) / 2, 260, "TERRORIST VS GIGN", 2,
                 glm::vec3(0.9f));
    } else if (index == 1) {
        Title(img, 60, 7, "TARNHOLD");
        img.Text(200 - Image::TextWidth("LOADING THE MAP...", 2) / 2, 170, "LOADING THE MAP...", 2,
                 glm::vec3(0.95f));
        for (int k = 0; k < 12; ++k)
            img.FillCircle(80.f + 22.f * float(k), 220.f, 6.f, kGold, 0.3f + 0.05f * float(k));
    } else {
        Title(img, 40, 5, "TARNHOLD");
        const char* lines[] = {"UP TO FOUR PLAYERS", "TWELVE WEAPONS", "TWO TEAMS",
                               "PRESS F1 FOR HELP"};
        for (int k = 0; k < 4; ++k)
            img.Text(200 - Image::TextWidth(lines[k], 2) / 2, 120 + 30 * k, lines[k], 2,
                     glm::vec3(0.9f));
    }
    img.FrameRect(0, 0, 400, 300, kGold);
    return img;
}

// Wall posters of the corridor map.
Image Logo(const char* text, glm::vec3 colour, uint32_t seed) {
    Image img = Backdrop(128, 64, colour, seed);
    img.FrameRect(2, 2, 126, 62, kGold);
    img.FrameRect(4, 4, 124, 60, kGold * 0.6f);
    const int scale = Image::TextWidth(text, 2) <= 116 ? 2 : 1;
    img.Text(64 - Image::TextWidth(text, scale) / 2, 32 - 7 * scale / 2, text, scale,
             glm::vec3(0.95f));
    return img;
}

const char* kReadme =
    "TARNHOLD\n"
    "========\n"
    "\n"
    "A networked shooter for up to four players, one per machine, in two teams:\n"
    "TERRORIST and GIGN.\n"
    "\n"
    "KEYS\n"
    "  Arrow keys ........ move and strafe\n"
    "  Mouse ............. turn and aim\n"
    "  Left button ....... fire\n"
    "  Right button ...... free camera\n"
    "  Right CTRL ........ crouch\n"
    "  Delete ............ change view (first / third person)\n"
    "  End ............... lock the aim\n"
    "  Page Down ......... change weapon\n"
    "  F1 ................ help on screen\n"
    "  F5 ................ chat\n"
    "  Escape ............ leave the match\n"
    "\n"
    "MAPS\n"
    "  couloirs and entrepot are built in. Other maps live in the map folder: a\n"
    "  definition file <name>.map with its .sol (floors), .mur (walls), .pla (ceilings)\n"
    "  and optional .lad (ladders) meshes; textures in map\\textures, skies in map\\env.\n"
    "\n"
    "RANK\n"
    "  Kills raise your rank; a head shot counts five. A higher rank unlocks the\n"
    "  stronger weapons of the inventory.\n"
    "\n"
    "All pictures, models and sounds of this installation are generated by the\n"
    "game's own content generator; you may replace any of them with your own files.\n";

} // namespace

void GeneratePictures(Output& out) {
    for (int i = 1; i <= 9; ++i)
        out.WriteBytes("models/blood00" + std::to_string(i) + ".bmp",
                       BloodFrame(i - 1).EncodeBmp24());
    out.WriteBytes("weapons/sniper.bmp", Scope().EncodeBmp24());
    out.WriteBytes("weapons/croix.bmp", Crosshair().EncodeBmp24());

    const Image terror = CharacterStill(0, TeamSkin(0, 0));
    const Image gign = CharacterStill(1, TeamSkin(1, 0));
    out.WriteBytes("media/terror_image.bmp", terror.EncodeBmp24());
    out.WriteBytes("media/gign_image.bmp", gign.EncodeBmp24());
    for (int i = 0; i < 3; ++i)
        out.WriteBytes("media/splash" + std::to_string(i) + ".bmp",
                       Splash(i, terror, gign).EncodeBmp24());
    // The render window's logo pictures and the two variants of the fourth one; the corridor
    // map's meshes name logo.bmp, logo2.bmp, logo3.bmp and logo4.bmp.
    const Image logo = Logo("TARNHOLD", glm::vec3(0.5f, 0.2f, 0.1f), 81);
    const Image logo2 = Logo("SECTEUR A", glm::vec3(0.2f, 0.3f, 0.5f), 82);
    const Image logo3 = Logo("DANGER", glm::vec3(0.6f, 0.5f, 0.1f), 83);
    const Image logo4a = Logo("NIVEAU 1", glm::vec3(0.2f, 0.45f, 0.2f), 84);
    const Image logo4b = Logo("NIVEAU 2", glm::vec3(0.45f, 0.2f, 0.4f), 85);
    out.WriteBytes("media/logo.bmp", logo.EncodeBmp24());
    out.WriteBytes("media/logo2.bmp", logo2.EncodeBmp24());
    out.WriteBytes("media/logo3.bmp", logo3.EncodeBmp24());
    out.WriteBytes("media/logo4.bmp", logo4a.EncodeBmp24());
    out.WriteBytes("media/logo4_0.bmp", logo4a.EncodeBmp24());
    out.WriteBytes("media/logo4_1.bmp", logo4b.EncodeBmp24());
    out.WriteText("readme.txt", kReadme);
}

} // namespace assetgen
