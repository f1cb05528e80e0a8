// player/animation.cpp — animation states, body sounds and the weapon in hand.
//
// Index
//   1. Helpers shared by the record's files (Arme, NomTorse)
//   2. Legs (Attend, Court) and body sounds (JoueSon)
//   3. The local animation step (animation)
//   4. The weapon (ColleArme, PlaceArme, ChangeArme)
#include "platform/audio/audio.h"
#include "player/player.h"

namespace player {

namespace {

constexpr double kFramesPerStep = 20.0 / 30.0; // animation frames per unit of ratio

// First-person eye offsets of PlaceArme: chasse relative to tete, devant relative to chasse.
struct EyeOffset {
    std::string_view classe;
    glm::vec3 chasse;
    glm::vec3 devant;
};
constexpr EyeOffset kEyeOffsets[] = {
    {"onehanded", {0, 11, 1}, {0, 0, 5}}, {"carbine", {0, 6, 2}, {0, 0, 5}},
    {"mp5", {0, 10, 1}, {0, 0, 5}},       {"rifle", {0, 8, 6}, {0, 0, 6}},
    {"m249", {2, 4, 0}, {0, 0, 5}},       {"shotgun", {0, 4, 2}, {0, 0, 5}},
};

} // namespace

// =============================================================================================
// 1. Helpers
// =============================================================================================

const WeaponRow& player::Arme() const {
    return kWeaponTable[size_t(IdArme >= 0 && IdArme < kWeaponCount ? IdArme : 0)];
}

void player::NomTorse(std::string_view act) {
    // `act` may be `action` itself: copy it before ani_lib changes (they are distinct strings).
    ani_lib.assign("ref_");
    ani_lib.append(act);
    ani_lib.append("_");
    ani_lib.append(Arme().classe);
    AniBuste = AnimationNommee(ani_lib);
}

// =============================================================================================
// 2. Legs and body sounds
// =============================================================================================

namespace {

// Switches the leg animation to baisser + `suffix` when that is not already playing.
bool ChangeJambes(std::string& ani_pos_lib, const std::string& baisser, std::string_view suffix) {
    const size_t n = baisser.size();
    if (ani_pos_lib.size() == n + suffix.size() && ani_pos_lib.compare(0, n, baisser) == 0 &&
        ani_pos_lib.compare(n, suffix.size(), suffix) == 0)
        return false;
    ani_pos_lib.assign(baisser);
    ani_pos_lib.append(suffix);
    return true;
}

} // namespace

void player::Attend() {
    if (!ChangeJambes(ani_pos_lib, baisser, "idle1")) return;
    fps = 0;
    Anipos = AnimationNommee(ani_pos_lib);
    JoueSon(1, 1);
}

void player::Court() {
    if (!ChangeJambes(ani_pos_lib, baisser, "run")) return;
    fps = 0;
    Anipos = AnimationNommee(ani_pos_lib);
    JoueSon(0, 1);
}

void player::JoueSon(int32_t id, int32_t looop) {
    if (id < 0 || id >= int32_t(Sons.size())) return;
    idson = id;
    if (!Sons[size_t(id)]) return;
    if (sonActif_ >= 0 && Sons[size_t(sonActif_)]) Sons[size_t(sonActif_)]->Stop();
    sonActif_ = id;
    Sons[size_t(id)]->Rewind();
    Sons[size_t(id)]->Play(looop != 0);
}

// =============================================================================================
// 3. The local animation step
// =============================================================================================

void player::animation() {
    const double pas = ratio * kFramesPerStep;
    // 1. Legs: "death1" holds its last frame and makes the player ready; the others loop.
    const bool mortAnim = ani_pos_lib == "death1";
    const double m = DerniereImage(Anipos);
    if (fps >= m && mortAnim) {
        fps = m;
        pret = true;
    } else {
        fps += pas;
        if (fps >= m) fps = mortAnim ? m : 0.0;
    }
    // 2. Torso: the end of a cycle returns to aiming; holding fire keeps the shoot animation.
    fps2 += pas;
    if (AniBuste != -1 && fps2 > DerniereImage(AniBuste)) {
        fps2 = 0;
        action = "aim";
        const std::string_view classe = Arme().classe;
        const bool visee = ani_lib.size() == 8 + classe.size() &&
                           ani_lib.compare(0, 8, "ref_aim_") == 0 &&
                           ani_lib.compare(8, classe.size(), classe) == 0;
        if (!visee && !Fire) NomTorse("aim");
    }
    // 3. Automatic reload: the magazine is full from the reload's first frame.
    if (action != "shoot" && NbBastos <= 0 && !mort) {
        NbBastos = Arme().magazine;
        idson2 = 4;
        action = "reload";
        fps2 = 0;
        NomTorse(action);
        JoueSon(4, 0);
    }
    // 4. The pose.
    Pose();
}

// =============================================================================================
// 4. The weapon
// =============================================================================================

void player::ColleArme(const scene::Frame& source, scene::Frame& dest) {
    // 1. Empty the destination.
    dest.DeleteAllVisuals();
    while (dest.GetChildCount() > 0)
        dest.DeleteChild(*dest.Children()[dest.GetChildCount() - 1]);
    // 2. The source's visuals.
    for (const std::shared_ptr<scene::Visual>& v : source.Visuals())
        dest.AddVisual(v->CloneVisual());
    // 3. Each child, one level at a time.
    for (const std::shared_ptr<scene::Frame>& c : source.Children()) {
        std::shared_ptr<scene::Frame> f = scene::Frame::Create();
        f->SetName(c->GetName());
        f->SetAppData(c->GetAppData());
        f->SetTraversalOptions(c->GetTraversalOptions());
        if (c->GetName() == "flash") flash = f;
        dest.AddChild(f);
        f->SetTransform(nullptr, c->GetLocalTransform());
        ColleArme(*c, *f);
    }
    // 4. Never more bullets than the magazine holds.
    NbBastos = std::min(NbBastos, Arme().magazine);
}

void player::PlaceArme() {
    if (!chasse || !devant || !tete) return;
    const std::string_view classe = Arme().classe;
    for (const EyeOffset& e : kEyeOffsets) {
        if (e.classe != classe) continue;
        chasse->SetPosition(tete.get(), e.chasse);
        devant->SetPosition(chasse.get(), e.devant);
        return;
    }
}

glm::vec3 player::OrigineTir() const {
    const scene::Frame* sceneFrame = monde_ ? monde_->sceneFrame.get() : nullptr;
    if (!tete) return joueur && sceneFrame ? joueur->GetPosition(sceneFrame) : glm::vec3(0.0f);
    glm::vec3 oeil(0.0f);
    for (const EyeOffset& e : kEyeOffsets)
        if (e.classe == Arme().classe) oeil = e.chasse;
    const glm::vec3 scene = tete->TransformPoint(oeil);
    return sceneFrame ? sceneFrame->InverseTransformPoint(scene) : scene;
}

void player::ChangeArme(int32_t arme) {
    if (arme < 0 || arme >= kWeaponCount || !Peau || monde_ == nullptr) return;
    IdArme = arme;
    // (a) The old weapon frame goes; its bone binding (application value) stays with the hand.
    uint32_t main = 0;
    if (MDroite) {
        main = MDroite->GetAppData();
        if (const std::shared_ptr<scene::Frame> parent = MDroite->GetParent())
            parent->DeleteChild(*MDroite);
    }
    // (b)-(d) A clone of the new weapon's hand frame, filled by ColleArme.
    const std::shared_ptr<scene::Frame>& modele = monde_->weaponMains[size_t(arme)];
    MDroite = modele ? modele->Clone() : scene::Frame::Create();
    Peau->AddChild(MDroite);
    MDroite->SetAppData(main);
    MDroite->SetTraversalOptions(scene::kFlagRendered);
    flash.reset();
    if (modele) ColleArme(*modele, *MDroite);
    if (flash) flash->SetTraversalOptions(scene::kFlagRendered);
    // 4. The new fire sound; a file that cannot be read is reported.
    if (MatchServices* services = Services()) {
        std::vector<LoadProblem> problems;
        Armeson = ChargeSon(monde_->dataPath + "/weapons/" + std::string(Arme().name) + "-1.wav",
                            problems);
        if (!problems.empty()) services->ReportLoadProblems(problems);
    }
}

} // namespace player
