// player/shooting.cpp — shots, hits, death and the messages they send.
//
// Shots are decided by the shooter (tir, lance_une_Bastos, SendHit) and damage by the victim
// (Toucher, Meurt, SendKilled). Everything here runs on the user-interface thread.
#include "platform/audio/audio.h"
#include "player/player.h"

#include <cmath>

namespace player {

void player::tir() {
    // 1. One shot per shoot animation: the animation's length is the fire interval.
    idson2 = 0;
    if (action == "shoot" || monde_ == nullptr || !chasse || !devant) return;
    // An empty magazine fires nothing: the animation step reloads it first.
    if (NbBastos <= 0) return;
    // 2. The bullet is spent, the others hear it, the torso shoots.
    NbBastos -= 1;
    idson2 = 1;
    action = "shoot";
    fps2 = 0;
    NomTorse(action);
    // 3.
    if (Armeson) {
        Armeson->Rewind();
        Armeson->Play(false);
    }
    // 4. Aim from the eye (not zoomed) or through the scope.
    if (!Zoome()) {
        PlaceArme();
        chasse->LookAt(*devant, monde_->sceneFrame.get());
        const float s = float(5.0 * monde_->modelScale);
        chasse->AddScale(scene::Combine::Before, s, s, s);
    } else if (flash) {
        devant->SetPosition(flash.get(), {5, 0, 0});
        chasse->SetPosition(devant.get(), {0, 2, -20});
        devant->SetPosition(chasse.get(), {0, 0, 10});
    }
    // 5.
    lance_une_Bastos(*chasse);
}

void player::lance_une_Bastos(const scene::Frame& qui) {
    if (monde_ == nullptr || !monde_->playerRoot) return;
    const scene::Frame* sceneFrame = monde_->sceneFrame.get();
    const glm::vec3 p = qui.GetPosition(sceneFrame);
    glm::vec3 d, up;
    qui.GetOrientation(sceneFrame, d, up);
    // Map geometry is not under the players' root: walls do not stop bullets.
    if (scene::Pick(*monde_->playerRoot, p, d, hits_) == 0) return;
    const scene::PickHit& h = hits_[0];
    if (h.visual == nullptr) return;
    const int32_t n = int32_t(h.visual->GetAppData());
    if (n != indice) SendHit(n, h.visual->GetName(), h.point);
}

void player::SendHit(int32_t target, std::string_view boneName, const glm::vec3& point) {
    int32_t power = Arme().power;
    if (boneName.find("Head") != std::string_view::npos) {
        snipper += 1;
        power = -1;
    }
    if (MessageSink* sink = Sink()) sink->SendHit(target, power, point);
}

MessageSink* player::Sink() const {
    if (messages != nullptr) return messages;
    return monde_ ? monde_->network : nullptr;
}

void player::Toucher(int32_t balle, int32_t tireur, float X, float Y, float z) {
    // 1. The dead feel nothing.
    if (mort || monde_ == nullptr) return;
    // 2. The others play the hit sound; so does this machine.
    idson3 = 1;
    if (Sons[2]) {
        Sons[2]->Rewind();
        Sons[2]->Play(false);
    }
    // 3. Blood at the hit point (a point that is not a number leaves it at the body).
    if (Frmsang) {
        Frmsang->DeleteAllVisuals();
        if (TexSang[1]) Frmsang->AddVisual(TexSang[1]);
        Frmsang->SetAppData(1);
        if (std::isfinite(X) && std::isfinite(Y) && std::isfinite(z))
            Frmsang->SetPosition(monde_->sceneFrame.get(), {X, Y, z});
    }
    // 4. Damage: a head shot kills whatever the weapon.
    if (balle < 0) {
        force = 0;
        snipped += 1;
    } else {
        force -= balle;
    }
    // 5.
    if (force <= 0) {
        Meurt();
        SendKilled(tireur, balle);
    }
}

void player::Meurt() {
    if (monde_ == nullptr) return;
    // 1-2.
    MatchServices* services = Humain() ? Services() : nullptr; // the human's chat and rank
    if (services != nullptr && services->ChatOpen()) services->CloseChat();
    mort = true;
    // 3. Out of the scope, the crosshair back.
    VueLocale().front = 1.0f;
    if (devant) {
        devant->DeleteAllVisuals();
        if (vue && Humain() && monde_->crosshairTexture)
            devant->AddVisual(monde_->crosshairTexture);
    }
    // 4-6.
    tue += 1;
    JoueSon(3, 0);
    AniBuste = -1;
    ani_pos_lib = "death1";
    fps = 0;
    Anipos = AnimationNommee(ani_pos_lib);
    // 7.
    pret = false;
    if (services != nullptr) services->UpdateWeaponPower();
}

void player::SendState() {
    if (MessageSink* sink = Sink()) sink->SendState(*this);
    // The fire and hit flags go out once; idson repeats.
    idson2 = 0;
    idson3 = 0;
}

void player::SendKilled(int32_t killer, int32_t power) {
    if (MessageSink* sink = Sink()) sink->SendKilled(killer, power);
}

} // namespace player
