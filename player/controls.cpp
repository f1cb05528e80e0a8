// player/controls.cpp — the per-frame update of a record: Avance, scrute_clavier, PositionneBoite.
//
// Index
//   1. Viewport helpers
//   2. Avance (blood splash, remote state, local step)
//   3. PositionneBoite
//   4. scrute_clavier and its steps
//   5. Camera targets and follow
//
// Per-frame code: allocates nothing in the steady state and throws nothing. Angles in degrees
// unless radians are said; offsets of frames under joueur are model units.
#include "platform/audio/audio.h"
#include "platform/input/input.h"
#include "player/player.h"

#include <glm/geometric.hpp>

#include <cmath>
#include <numbers>

namespace player {

namespace {

constexpr float kDeg = float(std::numbers::pi / 180.0);
constexpr float kZoomFront = 6.0f;
const glm::vec3 kUp(0.0f, 1.0f, 0.0f);

// Whether input `code` is held: a key of `clavier`, or a mouse button (kMouseInput + button).
bool Bas(const input::KeyboardState& clavier, int32_t code) {
    if (code >= kMouseInput)
        return code - kMouseInput <= int32_t(input::MouseButton::Middle) &&
               input::IsMouseButtonDown(input::MouseButton(code - kMouseInput));
    return code >= 0 && code < int32_t(clavier.size()) && (clavier[size_t(code)] & 0x80) != 0;
}

bool Fini(const glm::vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

} // namespace

// =============================================================================================
// 1. Viewport helpers
// =============================================================================================

scene::ViewportParams& player::VueLocale() {
    MatchServices* services = Services();
    if (services != nullptr && Humain()) {
        if (scene::ViewportParams* v = services->LocalViewport()) return *v;
    }
    return vueLocale_;
}

bool player::Zoome() {
    return VueLocale().front != 1.0f;
}

// =============================================================================================
// 2. Avance
// =============================================================================================

bool player::Humain() const {
    return monde_ != nullptr && indice == monde_->localIndex;
}

bool player::Local() const {
    return pilote != nullptr || Humain();
}

void player::Avance() {
    if (monde_ == nullptr || !joueur) return;
    EtapeSang();
    if (!Local()) {
        AvanceDistant();
        PositionneBoite();
        return;
    }
    // A record neither collides with nor shoots its own body.
    const uint32_t montre = joueur->GetTraversalOptions();
    joueur->SetTraversalOptions(montre & ~uint32_t(scene::kFlagPickable));
    scrute_clavier();
    joueur->SetTraversalOptions(montre);
    PositionneBoite();
    SendState();
}

void player::EtapeSang() {
    if (!Frmsang) return;
    Frmsang->DeleteAllVisuals();
    const uint32_t n = Frmsang->GetAppData();
    if (n == 0) return;
    // Values outside the splash (a bad state message) end it like the tenth step.
    if (n >= 10) {
        Frmsang->SetAppData(0);
        return;
    }
    if (TexSang[n]) Frmsang->AddVisual(TexSang[n]);
    Frmsang->SetAppData(n + 1);
}

void player::AvanceDistant() {
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    // 1. Position, facing and pitch between the states received (the track), else as received;
    // a facing that is not a direction keeps the old one, so the scale below is never applied
    // twice.
    const double now = NowMs();
    const std::optional<RemotePlacement> drawn = trajet.Sample(now);
    const glm::vec3 pos = drawn ? glm::vec3(drawn->position)
                                : glm::vec3(float(gPlayerpositionx), float(gPlayerpositiony),
                                            float(gPlayerpositionz));
    glm::vec3 dir = drawn
                        ? glm::vec3(drawn->facing)
                        : glm::vec3(float(gPlayerori1x), float(gPlayerori1y), float(gPlayerori1z));
    if (Fini(pos)) joueur->SetPosition(sceneFrame, pos);
    if (!Fini(dir) || glm::length(dir) < 1e-6f) {
        glm::vec3 up;
        joueur->GetOrientation(sceneFrame, dir, up);
    }
    joueur->SetOrientation(sceneFrame, dir, kUp);
    const float s = float(monde_->modelScale);
    joueur->AddScale(scene::Combine::Before, s, s, s);
    // 2. The weapon the other machine holds.
    if (gPlayerArme != IdArme && gPlayerArme >= 0 && gPlayerArme < kWeaponCount)
        ChangeArme(gPlayerArme);
    // 3. The pose, its animations played on from the frames received, which fps and fps2 keep.
    PoursuitAnimations(now);
    const double recuPivot = pivot, recuJambes = fps, recuTorse = fps2;
    if (drawn) pivot = drawn->pivot;
    fps = animDistante_.jambes;
    fps2 = AniBuste >= 0 ? animDistante_.torse : fps2;
    Pose();
    pivot = recuPivot;
    fps = recuJambes;
    fps2 = recuTorse;
    // 4. The sounds the state asks for.
    if (idson >= 0 && idson < int32_t(Sons.size()) && idson != sonActif_ && Sons[size_t(idson)]) {
        if (sonActif_ >= 0 && Sons[size_t(sonActif_)]) Sons[size_t(sonActif_)]->Stop();
        sonActif_ = idson;
        Sons[size_t(idson)]->Rewind();
        Sons[size_t(idson)]->Play(idson != 3 && idson != 4);
    }
    if (idson2 == 1 && Armeson) {
        Armeson->Rewind();
        Armeson->Play(false);
    }
    if (idson3 == 1 && Sons[2]) {
        Sons[2]->Rewind();
        Sons[2]->Play(false);
    }
    idson2 = 0;
    idson3 = 0;
}

// =============================================================================================
// 3. PositionneBoite
// =============================================================================================

void player::PositionneBoite() {
    if (monde_ == nullptr || !joueur) return;
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    if (base) base->SetPosition(joueur.get(), {0, 6, 0});
    if (Peau) Peau->SetPosition(joueur.get(), {0, 6, 0});
    // The local player's position and facing, for SendState; a remote record keeps the last
    // state received there (its body is drawn between states).
    glm::vec3 d, up;
    if (indice == monde_->localIndex) {
        const glm::vec3 p = joueur->GetPosition(sceneFrame);
        joueur->GetOrientation(sceneFrame, d, up);
        gPlayerpositionx = p.x;
        gPlayerpositiony = p.y;
        gPlayerpositionz = p.z;
        gPlayerori1x = d.x;
        gPlayerori1y = d.y;
        gPlayerori1z = d.z;
    }
    if (Armeson && flash) Armeson->SetPosition(flash->GetPosition(sceneFrame));
    if (tete) {
        const glm::vec3 t = tete->GetPosition(sceneFrame);
        if (sonActif_ >= 0 && Sons[size_t(sonActif_)]) Sons[size_t(sonActif_)]->SetPosition(t);
        if (Sons[2]) Sons[2]->SetPosition(t);
    }
    MatchServices* services = Services();
    if (Humain() && services != nullptr) {
        const scene::Frame* oreille = vue ? chasse.get() : cam.get();
        if (oreille) {
            oreille->GetOrientation(sceneFrame, d, up);
            services->SetListener(oreille->GetPosition(sceneFrame), d, up);
        }
    }
}

// =============================================================================================
// 4. scrute_clavier
// =============================================================================================

void player::ChangeVue() {
    TOUCHE_OK = false;
    if (!devant) return;
    scene::ViewportParams& v = VueLocale();
    devant->DeleteAllVisuals();
    if (vue) {
        if (v.front == 1.0f && Arme().scope) {
            // Zoom: the field stays, so the view is magnified six times.
            v.front = kZoomFront;
            if (monde_->scopeTexture) {
                monde_->scopeTexture->SetDecalSize(0.5f, 0.5f);
                devant->AddVisual(monde_->scopeTexture);
            }
        } else {
            vue = false;
            if (Services() != nullptr && Humain()) Services()->RebuildViewport(cam);
            VueLocale().front = 1.0f;
        }
    } else {
        if (monde_->crosshairTexture) devant->AddVisual(monde_->crosshairTexture);
        vue = true;
        if (Services() != nullptr && Humain()) Services()->RebuildViewport(chasse);
        VueLocale().front = 1.0f;
    }
}

void player::VuePremierePersonne() {
    if (!vue) ChangeVue();
}

const scene::Frame* player::FirstPersonWeapon() {
    if (!vue || !MDroite || Zoome()) return nullptr;
    return MDroite.get();
}

void player::scrute_clavier() {
    if (monde_ == nullptr || !joueur || !axe || !axe2) return;
    double k = 0; // camera distance factor; stays 0 while the player cannot move
    bool droit = false;
    // With the chat box open the human only animates.
    if (pilote != nullptr || !(Services() != nullptr && Services()->ChatOpen())) {
        // Input.
        if (pilote != nullptr) {
            commandes_ = Controls{};
            pilote->Decide(*this, commandes_);
        } else {
            commandes_ = LitClavierSouris();
        }
        const Controls& c = commandes_;
        droit = c.camera;
        // The dead wait for the end of their death; then a left click brings them back.
        if (mort) {
            if (c.clic && pret) {
                force = 100;
                mort = false;
                action = "aim";
                NomTorse(action);
                PlaceJoueur();
                Attend();
                return;
            }
        } else {
            k = Pas(c);
        }
    }
    // Animation, camera targets, and the chase camera's follow.
    animation();
    CiblesCamera(droit && !vue);
    if (!vue) SuitCamera(k);
}

// The mouse offsets of one step and the point the cursor goes back to. y and p: yaw and pitch
// in degrees; rcx, rcy: the view centre in screen pixels, rounded.
struct player::MouseLook {
    double y = 0, p = 0;
    double rcx = 0, rcy = 0;
};

// The movement keys of one step: the turn t (-1 right, 1 left), the walk flag w and the
// acceleration a (1 forward or strafing, -1 backward), all 0 without a key.
struct player::MoveKeys {
    double t = 0, w = 0, a = 0;
};

Controls player::LitClavierSouris() {
    const input::KeyboardState& clavier = input::GetKeyboardState();
    Controls c;
    c.avancer = Bas(clavier, K_up);
    c.reculer = Bas(clavier, k_down);
    c.gauche = Bas(clavier, k_left);
    c.droite = Bas(clavier, k_right);
    c.clic = Bas(clavier, k_clic);
    c.tir = (c.clic && Souris) || Bas(clavier, k_Tir);
    c.camera = Bas(clavier, k_camera);
    c.arme = Bas(clavier, k_Arme);
    c.vues = Bas(clavier, k_V1);
    c.blocage = Bas(clavier, k_V2);
    c.baisser = Bas(clavier, k_baisser);
    if (mort) return c; // the mouse waits for the player's return
    const MouseLook look = ReadMouseLook();
    c.lacet = look.y;
    c.tangage = look.p;
    if (Souris) input::SetCursorPos(int(look.rcx), int(look.rcy));
    return c;
}

double player::Pas(const Controls& c) {
    const glm::vec3 depart = joueur->GetPosition(monde_->sceneFrame.get());
    const bool droit = c.camera;
    // Under the pitch lock the head goes back to the pitch it had when the lock came on.
    if (SourisBloque) pivot = pivot_memo;
    MouseLook look;
    look.y = c.lacet;
    look.p = SourisBloque ? 0.0 : c.tangage;
    Turn(look, droit);
    look.y = std::nearbyint(look.y); // the head and the orbit take whole degrees
    look.p = std::nearbyint(look.p);
    FireOrHold(c.tir);
    SwitchWeaponWhenAsked(c.arme);
    ToggleViewAndPitchLock(c.vues, c.blocage);
    if (c.baisser) // crouch while held
        baisser = "crouch_";
    else
        baisser.clear();
    const MoveKeys keys = ReadMoveKeys(c);
    ChangeSpeed(keys);
    TurnHeadAndLegs(droit, look, LeanIntoStrafe(keys));
    Walk(depart);
    const double kv = std::nearbyint(vitesse);
    return kv == 0 ? 5.0 : kv;
}

player::MouseLook player::ReadMouseLook() {
    MouseLook look;
    const input::Point curseur = input::GetCursorPos();
    const input::Point fenetre = input::GetWindowOrigin();
    // The offset is measured from the rounded centre the cursor is put back to, so an odd view
    // size does not make the view drift.
    const scene::ViewportParams& v = VueLocale();
    const double cx = v.x + fenetre.x + v.width / 2.0;
    const double cy = v.y + fenetre.y + v.height / 2.0;
    const double ex = v.x + fenetre.x + v.width;
    const double ey = v.y + fenetre.y + v.height;
    look.rcx = std::nearbyint(cx);
    look.rcy = std::nearbyint(cy);
    if (!Souris) return look;
    if (curseur.x != look.rcx && ex != 0)
        look.y = inverse * (curseur.x - look.rcx) * 180.0 / ex / 3.0 * sensibilite;
    if (!SourisBloque && curseur.y != look.rcy && ey != 0)
        look.p = inverse * (curseur.y - look.rcy) * 180.0 / ey / 3.0 * sensibilite;
    return look;
}

void player::Turn(const MouseLook& look, bool droit) {
    if (droit && !vue) return; // the orbiting camera turns the head instead (step 17)
    double lacet = look.y;
    if (!Zoome() || droit) {
        pivot += look.p / 100.0;
    } else {
        pivot += look.p / 400.0;
        lacet = look.y / 5.0;
    }
    if (lacet != 0) joueur->AddRotation(scene::Combine::Before, kUp, float(lacet) * kDeg);
}

void player::FireOrHold(bool feu) {
    if (feu && action != "reload") {
        tir();
        Fire = true;
    } else {
        Fire = false;
    }
}

int32_t player::PuissanceArme() const {
    if (pilote != nullptr) return puissance;
    return Services() != nullptr ? Services()->WeaponPower() : 4;
}

void player::SwitchWeaponWhenAsked(bool demande) {
    const int32_t puissance = PuissanceArme();
    if (!((demande && TOUCHE_OK) || Arme().rank > puissance)) return;
    TOUCHE_OK = false;
    int32_t suivante = IdArme + 1;
    if (suivante >= kWeaponCount || suivante < 0) suivante = 0;
    if (kWeaponTable[size_t(suivante)].rank > puissance) suivante = 0;
    IdArme = suivante;
    NomTorse(action);
    ChangeArme(suivante);
    if (Arme().classe != "rifle" && Zoome() && vue) ChangeVue();
}

void player::ToggleViewAndPitchLock(bool vues, bool blocage) {
    if (vues && TOUCHE_OK) ChangeVue();
    if (blocage && TOUCHE_OK) {
        TOUCHE_OK = false;
        SourisBloque = !SourisBloque;
        pivot_memo = pivot;
    }
}

player::MoveKeys player::ReadMoveKeys(const Controls& c) const {
    MoveKeys keys;
    if (c.droite) keys.t = -1, keys.a = 1;
    if (c.gauche) keys.t = 1, keys.a = 1;
    if (c.avancer) keys.w = 1, keys.a = 1;
    if (c.reculer) keys.w = 1, keys.a = -1;
    return keys;
}

void player::ChangeSpeed(const MoveKeys& keys) {
    if (keys.a != 0) {
        vitesse += keys.a;
        if (vitesse > 8) vitesse -= 1;
        if (vitesse < -8) vitesse += 1;
        Court();
    } else {
        vitesse = 0;
        Attend();
    }
}

double player::LeanIntoStrafe(const MoveKeys& keys) {
    double cible = 30 * keys.t - 15 * keys.t * keys.w;
    if (keys.a == -1) cible = -cible;
    if (colonne < cible) {
        colonne += 15;
        return -15;
    }
    if (colonne > cible) {
        colonne -= 15;
        return 15;
    }
    return 0;
}

void player::TurnHeadAndLegs(bool droit, const MouseLook& look, double s) {
    if (droit && !vue) {
        axe2->AddRotation(scene::Combine::Before, kUp, float(2 * look.y) * kDeg);
        axe2->AddRotation(scene::Combine::Before, {1, 0, 0}, float(look.p) * kDeg);
    } else {
        const glm::vec3 position = axe2->GetPosition(axe.get());
        axe2->SetTransform(nullptr, glm::mat4(1.0f));
        axe2->AddRotation(scene::Combine::Replace, {1, 0, 0}, float(3 * pivot));
        axe2->SetPosition(axe.get(), position);
    }
    if (s != 0) {
        joueur->AddRotation(scene::Combine::Before, kUp, float(3 * s) * kDeg);
        axe->AddRotation(scene::Combine::Before, kUp, float(-3 * s) * kDeg);
    }
}

void player::Walk(const glm::vec3& depart) {
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    const double vit = vitesse;
    const float g = vit >= 0 ? 1.0f : -1.0f;
    const float pas = float(std::fabs(vit * ratio / 15.0));
    glm::vec3 d, up;
    joueur->GetOrientation(sceneFrame, d, up);
    const glm::vec3 motion = g * d;
    joueur->SetVelocity(sceneFrame, motion);
    joueur->Move(pas);
    if (vit != 0) ProbeWallsAhead(depart);
    if (monde_->mapName == "couloirs") AfficheSecteur(*joueur);
    StandOnFloorOrClimb(depart, pas);
    SlideAlongWalls(motion, pas);
}

void player::ProbeWallsAhead(const glm::vec3& depart) {
    if (!Fleche) return;
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    Fleche->SetPosition(joueur.get(), {0, 0, vitesse > 0 ? -5.0f : 5.0f});
    Fleche->LookAt(*joueur, sceneFrame);
    XX = 0;
    ZZ = 0;
    Collisions(*Fleche, 1);
    if (XX == 0 && ZZ == 0) return;
    glm::vec3 ici = joueur->GetPosition(sceneFrame);
    if (XX != 0) ici.x = depart.x;
    if (ZZ != 0) ici.z = depart.z;
    joueur->SetPosition(sceneFrame, ici);
}

void player::StandOnFloorOrClimb(const glm::vec3& depart, float pas) {
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    if (echelle) {
        joueur->SetPosition(sceneFrame, {depart.x, depart.y + pas, depart.z});
    } else if (!lance_une_RAY(*joueur)) {
        XX = 100;
        ZZ = 100;
        joueur->SetPosition(sceneFrame, depart);
    }
}

void player::SlideAlongWalls(const glm::vec3& motion, float pas) {
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    const glm::vec3 avant = joueur->GetPosition(sceneFrame);
    glm::vec3 glisse = motion;
    if (XX != 0 && ZZ != 0) {
        glisse = glm::vec3(0.0f);
    } else if (XX != 0) {
        glisse = {0.0f, 0.0f, motion.z};
    } else if (ZZ != 0) {
        glisse = {motion.x, 0.0f, 0.0f};
    }
    joueur->SetVelocity(sceneFrame, glisse);
    joueur->Move(pas);
    // The slide never leaves the floor: off an edge or into a wall's foot the body would stand
    // where no floor holds it, and every later step would be refused.
    if (!echelle && !SolAPortee(*joueur)) joueur->SetPosition(sceneFrame, avant);
}

// =============================================================================================
// 5. Camera targets and follow
// =============================================================================================

void player::CiblesCamera(bool orbite) {
    if (!chasse || !devant || !axe2) return;
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    if (vue) {
        if (!Zoome()) PlaceArme();
        if (!flash) return;
        devant->SetPosition(flash.get(), {5, 0, 0});
        chasse->SetPosition(devant.get(), {0, 2, -20});
        devant->SetPosition(chasse.get(), {0, 0, 10});
        chasse->LookAt(*devant, sceneFrame);
        const float s = float(5.0 * monde_->modelScale);
        chasse->AddScale(scene::Combine::Before, s, s, s);
        return;
    }
    if (orbite) {
        devant->SetPosition(axe2.get(), {0, 40, 0});
        chasse->SetPosition(devant.get(), {0, 0, -100});
    } else {
        chasse->SetPosition(axe2.get(), {0, 50, -80});
        devant->SetPosition(axe2.get(), {0, 30, 0});
    }
    chasse->LookAt(*devant, sceneFrame);
}

void player::SuitCamera(double k) {
    if (!cam || !chasse || !devant) return;
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    const float d = glm::length(cam->GetPosition(sceneFrame) - chasse->GetPosition(sceneFrame));
    cam->LookAt(*chasse, sceneFrame);
    glm::vec3 dir, up;
    cam->GetOrientation(sceneFrame, dir, up);
    cam->SetVelocity(sceneFrame, dir);
    cam->Move(float(std::fabs(k) * d / 75.0 * ratio));
    cam->LookAt(*devant, sceneFrame);
}

} // namespace player
