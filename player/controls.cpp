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

bool Bas(const input::KeyboardState& clavier, int32_t code) {
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
    if (MatchServices* services = Services()) {
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

void player::Avance() {
    if (monde_ == nullptr || !joueur) return;
    EtapeSang();
    if (indice != monde_->localIndex) {
        AvanceDistant();
        PositionneBoite();
        return;
    }
    scrute_clavier();
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
    // 1. Position and facing as received; a facing that is not a direction keeps the old one,
    // so the scale below is never applied twice.
    const glm::vec3 pos{float(gPlayerpositionx), float(gPlayerpositiony), float(gPlayerpositionz)};
    glm::vec3 dir{float(gPlayerori1x), float(gPlayerori1y), float(gPlayerori1z)};
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
    // 3.
    Pose();
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
    const glm::vec3 p = joueur->GetPosition(sceneFrame);
    glm::vec3 d, up;
    joueur->GetOrientation(sceneFrame, d, up);
    gPlayerpositionx = p.x;
    gPlayerpositiony = p.y;
    gPlayerpositionz = p.z;
    gPlayerori1x = d.x;
    gPlayerori1y = d.y;
    gPlayerori1z = d.z;
    if (Armeson && flash) Armeson->SetPosition(flash->GetPosition(sceneFrame));
    if (tete) {
        const glm::vec3 t = tete->GetPosition(sceneFrame);
        if (sonActif_ >= 0 && Sons[size_t(sonActif_)]) Sons[size_t(sonActif_)]->SetPosition(t);
        if (Sons[2]) Sons[2]->SetPosition(t);
    }
    MatchServices* services = Services();
    if (indice == monde_->localIndex && services != nullptr) {
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
            if (MatchServices* services = Services()) services->RebuildViewport(cam);
            VueLocale().front = 1.0f;
        }
    } else {
        if (monde_->crosshairTexture) devant->AddVisual(monde_->crosshairTexture);
        vue = true;
        if (MatchServices* services = Services()) services->RebuildViewport(chasse);
        VueLocale().front = 1.0f;
    }
}

const scene::Frame* player::FirstPersonWeapon() {
    if (!vue || !MDroite || Zoome()) return nullptr;
    return MDroite.get();
}

void player::scrute_clavier() {
    if (monde_ == nullptr || !joueur || !axe || !axe2) return;
    double k = 0; // camera distance factor; stays 0 while the player cannot move
    bool droit = false;
    // 1. With the chat box open the player only animates.
    if (!(Services() != nullptr && Services()->ChatOpen())) {
        // 2. Input.
        const bool gauche = input::IsMouseButtonDown(input::MouseButton::Left);
        droit = input::IsMouseButtonDown(input::MouseButton::Right);
        const input::KeyboardState& clavier = input::GetKeyboardState();
        // 3. The dead wait for the end of their death; then a left click brings them back.
        if (mort) {
            if (gauche && pret) {
                force = 100;
                mort = false;
                action = "aim";
                NomTorse(action);
                PlaceJoueur();
                Attend();
                return;
            }
        } else {
            k = Pas(gauche, droit, clavier);
        }
    }
    // 24-26.
    animation();
    CiblesCamera(droit && !vue);
    if (!vue) SuitCamera(k);
}

double player::Pas(bool gauche, bool droit, const input::KeyboardState& clavier) {
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    const input::Point curseur = input::GetCursorPos();
    const input::Point fenetre = input::GetWindowOrigin();
    double t = 0, w = 0, a = 0, y = 0, p = 0;

    // 4. The start position.
    const glm::vec3 depart = joueur->GetPosition(sceneFrame);

    // 5. Mouse look: the cursor's offset from the point it is put back to every step. (Measured
    // from that rounded point, so an odd view size does not make the view drift.)
    const scene::ViewportParams& v = VueLocale();
    const double cx = v.x + fenetre.x + v.width / 2.0;
    const double cy = v.y + fenetre.y + v.height / 2.0;
    const double ex = v.x + fenetre.x + v.width;
    const double ey = v.y + fenetre.y + v.height;
    const double rcx = std::nearbyint(cx), rcy = std::nearbyint(cy);
    if (Souris) {
        if (curseur.x != rcx && ex != 0) y = inverse * (curseur.x - rcx) * 180.0 / ex / 3.0;
        if (!SourisBloque) {
            if (curseur.y != rcy && ey != 0) p = inverse * (curseur.y - rcy) * 180.0 / ey / 3.0;
        } else {
            pivot = pivot_memo;
        }
    }

    // 6. Turning; zoomed without the right button it is five (pitch four) times slower.
    const bool zoom = Zoome();
    if (!(droit && !vue)) {
        double lacet = y;
        if (!zoom || droit) {
            pivot += p / 100.0;
        } else {
            pivot += p / 400.0;
            lacet = y / 5.0;
        }
        if (lacet != 0) joueur->AddRotation(scene::Combine::Before, kUp, float(lacet) * kDeg);
    }
    // 7.
    y = std::nearbyint(y);
    p = std::nearbyint(p);

    // 8. Fire.
    if (((gauche && Souris) || Bas(clavier, k_Tir)) && action != "reload") {
        tir();
        Fire = true;
    } else {
        Fire = false;
    }
    // 9.
    if (Souris) input::SetCursorPos(int(rcx), int(rcy));

    // 10. Weapon switch: by key, or at once when the rank no longer allows the weapon.
    const int32_t puissance = Services() != nullptr ? Services()->WeaponPower() : 4;
    if ((Bas(clavier, k_Arme) && TOUCHE_OK) || Arme().rank > puissance) {
        TOUCHE_OK = false;
        int32_t suivante = IdArme + 1;
        if (suivante >= kWeaponCount || suivante < 0) suivante = 0;
        if (kWeaponTable[size_t(suivante)].rank > puissance) suivante = 0;
        IdArme = suivante;
        NomTorse(action);
        ChangeArme(suivante);
        if (Arme().classe != "rifle" && Zoome() && vue) ChangeVue();
    }
    // 11. View cycle.
    if (Bas(clavier, k_V1) && TOUCHE_OK) ChangeVue();
    // 12. Pitch lock.
    if (Bas(clavier, k_V2) && TOUCHE_OK) {
        TOUCHE_OK = false;
        SourisBloque = !SourisBloque;
        pivot_memo = pivot;
    }
    // 13. Crouch while held.
    if (Bas(clavier, k_baisser))
        baisser = "crouch_";
    else
        baisser.clear();
    // 14. Movement keys, later ones winning.
    if (Bas(clavier, k_right)) t = -1, a = 1;
    if (Bas(clavier, k_left)) t = 1, a = 1;
    if (Bas(clavier, K_up)) w = 1, a = 1;
    if (Bas(clavier, k_down)) w = 1, a = -1;
    // 15. Speed: one more per step up to 8; no key stops at once.
    if (a != 0) {
        vitesse += a;
        if (vitesse > 8) vitesse -= 1;
        if (vitesse < -8) vitesse += 1;
        Court();
    } else {
        vitesse = 0;
        Attend();
    }
    // 16. Strafe lean.
    double cible = 30 * t - 15 * t * w;
    if (a == -1) cible = -cible;
    double s = 0;
    if (colonne < cible) {
        colonne += 15;
        s = -15;
    } else if (colonne > cible) {
        colonne -= 15;
        s = 15;
    }
    // 17. Head and body: the legs turn with the lean while the head keeps its direction.
    if (droit && !vue) {
        axe2->AddRotation(scene::Combine::Before, kUp, float(2 * y) * kDeg);
        axe2->AddRotation(scene::Combine::Before, {1, 0, 0}, float(p) * kDeg);
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

    // 18. First move along the facing.
    const double vit = vitesse;
    const float g = vit >= 0 ? 1.0f : -1.0f;
    const float pas = float(std::fabs(vit * ratio / 15.0));
    glm::vec3 d, up;
    joueur->GetOrientation(sceneFrame, d, up);
    joueur->SetVelocity(sceneFrame, g * d);
    joueur->Move(pas);
    // 19. Wall probe behind the player, pointing along the motion. A blocked axis refuses the
    // first move too: otherwise walking on into a thin wall with floor on both sides passes
    // through it a first move at a time.
    if (vit != 0 && Fleche) {
        Fleche->SetPosition(joueur.get(), {0, 0, vit > 0 ? -5.0f : 5.0f});
        Fleche->LookAt(*joueur, sceneFrame);
        XX = 0;
        ZZ = 0;
        Collisions(*Fleche, 1);
        if (XX != 0 || ZZ != 0) {
            glm::vec3 ici = joueur->GetPosition(sceneFrame);
            if (XX != 0) ici.x = depart.x;
            if (ZZ != 0) ici.z = depart.z;
            joueur->SetPosition(sceneFrame, ici);
        }
    }
    // 20.
    if (monde_->mapName == "couloirs") AfficheSecteur(*joueur);
    // 21. Floor, or the ladder: straight up from the start instead of forward.
    if (!echelle) {
        if (!lance_une_RAY(*joueur)) {
            XX = 100;
            ZZ = 100;
            joueur->SetPosition(sceneFrame, depart);
        }
    } else {
        joueur->SetPosition(sceneFrame, {depart.x, depart.y + pas, depart.z});
    }
    // 22. Second move, sliding along the free axis.
    glm::vec3 glisse = g * d;
    if (XX != 0 && ZZ != 0) {
        glisse = glm::vec3(0.0f);
    } else if (XX != 0) {
        glisse = {0.0f, 0.0f, g * d.z};
    } else if (ZZ != 0) {
        glisse = {g * d.x, 0.0f, 0.0f};
    }
    joueur->SetVelocity(sceneFrame, glisse);
    joueur->Move(pas);
    // 23.
    const double kv = std::nearbyint(vitesse);
    return kv == 0 ? 5.0 : kv;
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
