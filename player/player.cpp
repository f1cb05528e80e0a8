// player/player.cpp — the record: keys and sights, what it asks of the match, construction,
// spawn, release.
//
// Index
//   1. Keys and sights
//   2. The match: character model and services
//   3. Initplayer, PlaceJoueur, Destroy
#include "player/player.h"

#include "platform/audio/audio.h"
#include "platform/scene/scene.h"

#include <cmath>
#include <random>

namespace player {

// =============================================================================================
// 1. Keys and sights
// =============================================================================================

void player::AssignLocalKeys() {
    K_up = kKeyUp;
    k_down = kKeyDown;
    k_right = kKeyRight;
    k_left = kKeyLeft;
    k_Tir = kKeyFire;
    k_V1 = kKeyView;
    k_V2 = kKeyLock;
    k_Arme = kKeyWeapon;
    k_baisser = kKeyCrouch;
    k_clic = kMouseInput;
    k_camera = kMouseInput + 1;
}

void PrepareSight(scene::Texture& texture, bool crosshair) {
    texture.SetDecalTransparency(true);
    texture.SetDecalTransparentColor(0);
    texture.SetDecalOrigin(128, 128);
    texture.SetDecalOnScreen(true);
    if (crosshair) texture.SetDecalSize(kCrosshairSize, kCrosshairSize);
}

// =============================================================================================
// 2. The match: character model and services
// =============================================================================================

model::MDL* player::Modele() const {
    if (monde_ == nullptr || MDLid < 0 || MDLid >= kCharacterModelSlots) return nullptr;
    return monde_->characterModels[size_t(MDLid)];
}

MatchServices* player::Services() const {
    return monde_ ? monde_->services : nullptr;
}

int32_t player::AnimationNommee(std::string_view name) const {
    const model::MDL* m = Modele();
    return m ? m->RenvAnimations(name) : 0;
}

int32_t player::DerniereImage(int32_t index) const {
    const model::MDL* m = Modele();
    return m ? m->RenvAniMax(index) : 0;
}

void player::Pose() {
    if (model::MDL* m = Modele()) m->Anime(*this);
}

std::unique_ptr<audio::Sound> player::ChargeSon(const std::string& file,
                                                std::vector<LoadProblem>& problems) const {
    MatchServices* services = Services();
    if (services == nullptr) return nullptr;
    std::string error;
    std::unique_ptr<audio::Sound> sound = services->LoadSound3d(file, error);
    if (!sound && !error.empty()) problems.push_back({file, error});
    return sound;
}

// =============================================================================================
// 3. Initplayer, PlaceJoueur, Destroy
// =============================================================================================

const std::array<glm::vec3, 11> kCorridorSpawns = {{
    {6.568459f, -3.0f, 5.590749f},
    {61.29934f, -3.0f, -7.766153f},
    {7.715461f, -3.0f, -22.40472f},
    {62.894f, -3.0f, -38.85555f},
    {4.783217f, -3.0f, -52.10814f},
    {60.96455f, -3.0f, -68.15862f},
    {7.151272f, -3.0f, -83.69406f},
    {62.3031f, -3.0f, -100.6524f},
    {7.021965f, -3.0f, -114.4849f},
    {63.46053f, -3.0f, -127.5947f},
    {5.458971f, -3.0f, -141.0415f},
}};

const std::array<glm::vec3, 11> kWarehouseSpawns = {{
    {70.12493f, 4.761224f, 64.86935f},
    {5.066369f, 4.503484f, 63.06583f},
    {-58.96852f, 5.871279f, 61.85323f},
    {-58.05945f, 4.411825f, -65.318f},
    {6.515453f, 4.473571f, -63.73947f},
    {71.28043f, 6.351606f, -63.36874f},
    {9.286125f, -24.28041f, -11.95823f},
    {-5.800889f, -24.17529f, 6.076867f},
    {-56.35686f, -24.49127f, 66.2188f},
    {38.86509f, -23.54429f, 69.43626f},
    {35.92865f, -24.60334f, -71.76601f},
}};

player::player() = default;
player::~player() = default;
player::player(player&&) noexcept = default;
player& player::operator=(player&&) noexcept = default;

void player::Initplayer(const World& world) {
    monde_ = &world;
    // 1-2. Ready; joueur under the players' root, scaled to the map.
    pret = true;
    joueur = scene::Frame::Create(world.playerRoot);
    const float s = static_cast<float>(world.modelScale);
    joueur->AddScale(scene::Combine::Before, s, s, s);

    // 3. Body frames.
    base = scene::Frame::Create(joueur);
    Peau = scene::Frame::Create(joueur);
    Fleche = scene::Frame::Create(joueur);
    Frmsang = scene::Frame::Create(joueur);
    Frmsang->SetTraversalOptions(scene::kFlagRendered);
    base->SetAppData(static_cast<uint32_t>(indice));
    Peau->SetAppData(static_cast<uint32_t>(indice));
    base->SetPosition(joueur.get(), {0.0f, 12.0f, 0.0f});
    Peau->SetPosition(joueur.get(), {0.0f, 12.0f, 0.0f});

    // 4. The character instance. A team the character model has no skin for (a remote formal
    // name, a hand-edited setting) leaves that player without a body instead of ending the match.
    if (model::MDL* m = Modele()) {
        try {
            m->RenvMesh(*this);
        } catch (const model::ModelError& error) {
            if (MatchServices* services = Services())
                services->Log("player " + std::to_string(indice) + ": " + error.what());
        }
    }
    if (!world.boxMode && Peau->GetVisualCount() > 0)
        Peau->Visuals()[0]->SetAppData(static_cast<uint32_t>(indice));

    // 5. Animation state. The names get room for the longest ones, so that the per-frame
    // renaming never allocates.
    if (IdArme < 0 || IdArme >= kWeaponCount) IdArme = 0;
    const int32_t arme = IdArme;
    ani_lib.reserve(48);
    ani_pos_lib.reserve(32);
    action.reserve(16);
    baisser.reserve(16);
    Anipos = 0;
    ani_pos_lib.clear();
    action = "aim";
    NomTorse(action);

    // 6. The weapon in the hand. When the head frame is the head's hit box (it hangs under
    // base), it keeps its flags: made render-only it could never be hit, and head shots would
    // be impossible.
    if (!MDroite) MDroite = scene::Frame::Create(Peau);
    if (world.weaponMains[size_t(arme)]) ColleArme(*world.weaponMains[size_t(arme)], *MDroite);
    MDroite->SetTraversalOptions(scene::kFlagRendered);
    if (tete && tete->GetParent() != base) tete->SetTraversalOptions(scene::kFlagRendered);

    // 7. Sounds: the weapon's fire sound, then the five player sounds. A file that cannot be
    // read is reported once the record is built; the record goes on without it.
    std::vector<LoadProblem> problems;
    if (Services() != nullptr) {
        const std::string models = world.dataPath + "/models/";
        Armeson = ChargeSon(world.dataPath + "/weapons/" +
                                std::string(kWeaponTable[size_t(arme)].name) + "-1.wav",
                            problems);
        const char* const files[5] = {"pas.wav", "coeur.wav", "touche.wav", "mort.wav",
                                      "reload.wav"};
        for (size_t i = 0; i < Sons.size(); ++i)
            Sons[i] = ChargeSon(models + files[i], problems);
    }

    // 8. Blood decals.
    for (int i = 1; i <= 9; ++i) {
        const std::string file = world.dataPath + "/models/blood00" + std::to_string(i) + ".bmp";
        scene::LoadStatus status;
        std::shared_ptr<scene::Texture> t = scene::LoadTexture(file, nullptr, &status);
        if (!t) {
            problems.push_back({file, status.error});
            continue;
        }
        t->SetDecalSize(0.5f, 0.5f);
        t->SetDecalOrigin(8, 8);
        t->SetDecalTransparency(true);
        t->SetDecalTransparentColor(0);
        TexSang[size_t(i)] = t;
    }

    // 9. Camera frames.
    axe = scene::Frame::Create(joueur);
    axe2 = scene::Frame::Create(axe);
    chasse = scene::Frame::Create(axe2);
    devant = scene::Frame::Create(axe2);
    cam = scene::Frame::Create(world.sceneFrame);
    cam->SetPosition(joueur.get(), {0.0f, 10.0f, 80.0f});
    chasse->SetPosition(joueur.get(), {0.0f, 50.0f, -80.0f});
    devant->SetPosition(joueur.get(), {0.0f, 30.0f, 0.0f});

    // 10. Health and what is drawn and hit.
    force = 100;
    base->SetTraversalOptions(world.boxMode ? scene::kFlagRenderedAndPickable
                                            : scene::kFlagPickable);
    Peau->SetTraversalOptions(scene::kFlagRendered);

    // 11. A record simulated here goes to a spawn point; the caller shows joueur. Every record,
    // the remote ones before their first state too, starts idle, its heartbeat looping.
    if (Local()) PlaceJoueur();
    joueur->SetTraversalOptions(scene::kFlagNone);
    Attend();
    if (!problems.empty() && Services() != nullptr) Services()->ReportLoadProblems(problems);
}

namespace {

// Another body nearer than this (horizontally, within kSpawnHeight) makes a spawn point taken.
constexpr float kSpawnClearance = 6.0f;
constexpr float kSpawnHeight = 8.0f;

} // namespace

void player::PlaceJoueur() {
    if (monde_ == nullptr || !joueur) return;
    const World& w = *monde_;
    MatchServices* services = Services();
    const auto seed = [services] {
        return services ? services->RandomSeed() : std::random_device{}();
    };
    std::mt19937 random(seed());
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int n = static_cast<int>(11.0 * unit(random) + 1.0); // 1..11
    const bool builtIn = w.mapName == "couloirs" || w.mapName == "entrepot";
    int premier = n - 1;
    if (!builtIn) {
        random.seed(seed());
        premier = static_cast<int>(4.0 * unit(random) + 1.0) - 1; // 0..3
    }
    // The drawn point, or the next one that no other body stands on: two players placed on
    // one point would hold each other in their walls for good.
    const int points = builtIn ? 11 : 4;
    for (int k = 0; k < points; ++k) {
        PoseAuPoint((premier + k) % points);
        if (PointLibre()) return;
    }
    PoseAuPoint(premier);
}

void player::PoseAuPoint(int i) {
    const World& w = *monde_;
    if (w.mapName == "couloirs") {
        const auto& section = IdModele == 0 ? w.decorFrameA : w.decorFrameB;
        joueur->SetPosition(section.get(), kCorridorSpawns[size_t(i)]);
    } else if (w.mapName == "entrepot") {
        joueur->SetPosition(w.wallFrame.get(), kWarehouseSpawns[size_t(i)]);
    } else {
        joueur->SetPosition(w.wallFrame.get(), w.spawnPoints[size_t(i)]);
        lance_une_RAY(*joueur);
    }
}

bool player::PointLibre() const {
    if (!monde_->playerRoot) return true;
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    const glm::vec3 ici = joueur->GetPosition(sceneFrame);
    for (const std::shared_ptr<scene::Frame>& corps : monde_->playerRoot->Children()) {
        if (corps == joueur || corps->GetTraversalOptions() == scene::kFlagNone) continue;
        const glm::vec3 la = corps->GetPosition(sceneFrame);
        if (std::hypot(la.x - ici.x, la.z - ici.z) < kSpawnClearance &&
            std::fabs(la.y - ici.y) < kSpawnHeight)
            return false;
    }
    return true;
}

void player::Destroy() {
    if (joueur) {
        joueur->DeleteFrameTree();
        if (const std::shared_ptr<scene::Frame> parent = joueur->GetParent())
            parent->DeleteChild(*joueur);
    }
    if (cam) {
        if (const std::shared_ptr<scene::Frame> parent = cam->GetParent())
            parent->DeleteChild(*cam);
    }
    joueur.reset();
    base.reset();
    Peau.reset();
    MDroite.reset();
    tete.reset();
    Fleche.reset();
    Frmsang.reset();
    axe.reset();
    axe2.reset();
    chasse.reset();
    devant.reset();
    cam.reset();
    flash.reset();
    Armeson.reset();
    for (auto& s : Sons)
        s.reset();
    sonActif_ = -1;
    for (auto& t : TexSang)
        t.reset();
    monde_ = nullptr;
}

} // namespace player
