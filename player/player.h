// player/player.h — one participant of a match, local or remote.
//
// Index
//   1. Weapon table, keys and sights
//   2. The match a record lives in (MessageSink, MatchServices, World)
//   3. Remote players between states (RemoteTrack)
//   4. Controls of one step      (Controls, Pilot)
//   5. The player record   (fields, Initplayer, PlaceJoueur, Avance, Destroy)
//
// A record is created by the game core when a match starts or by the network layer when a
// player joins; it owns its frames until Destroy. The record is the character model's instance
// of its player (model::Instance: the frames and pose values that RenvMesh and Anime use); the
// behaviour of the record (construction, controls, collisions, shooting) belongs with it too.
#pragma once

#include "model/mdl.h"
#include "platform/scene/scene.h"

#include <glm/vec3.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace audio {
class Sound;
}

namespace player {

// ---------------------------------------------------------------------------------------------
// 1. Weapon table, keys and sights
// ---------------------------------------------------------------------------------------------

// The weapon table is the model's (its reader fills the weapon models' statistics from it);
// the record and the modules above name it here too.
using model::CaracteristiquesArme;
using model::FichierArme;
using model::kWeaponCount;
using model::kWeaponTable;
using model::WeaponRow;

// The local player's keys (DirectInput codes): arrows to move, P to fire, Delete and End for the
// view and the pitch lock, Page Down for the weapon, Right Ctrl to crouch.
inline constexpr int32_t kKeyUp = 200, kKeyDown = 208, kKeyRight = 205, kKeyLeft = 203;
inline constexpr int32_t kKeyFire = 25, kKeyView = 211, kKeyLock = 207, kKeyWeapon = 209;
inline constexpr int32_t kKeyCrouch = 157;
// Inputs at or above this code are mouse buttons: kMouseInput + input::MouseButton (left 0,
// right 1, middle 2); below it, DirectInput key codes. A negative input is none.
inline constexpr int32_t kMouseInput = 256;

// Size of the crosshair over the view, in double view heights: a fifth of the view's height.
inline constexpr float kCrosshairSize = 0.1f;

// Makes a sight picture (the crosshair or the scope, 256 x 256) what `devant` shows: keyed on
// black, its centre pixel (128, 128) over the aim point, drawn over the whole view. The
// crosshair gets its size here; the scope gets 0.5 x 0.5 (as tall as the view) when zooming.
void PrepareSight(scene::Texture& texture, bool crosshair);

// ---------------------------------------------------------------------------------------------
// 2. The match a record lives in
// ---------------------------------------------------------------------------------------------

class player;

// A file a record could not load (a sound, a blood picture).
struct LoadProblem {
    std::string path;   // the file as the record asked for it
    std::string reason; // the reader's message
};

// Where the local record's messages go. The network layer implements it; without one the
// messages go nowhere (the counters still change). Called on the user-interface thread, once
// per event (SendHit, SendKilled) or once per frame (SendState); implementations must not
// allocate in SendState's steady state.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    // HIT for the machine of player slot `target`: the hit point relative to the scene frame
    // and the damage (`power`, -1 for a head shot).
    virtual void SendHit(int32_t target, int32_t power, const glm::vec3& point) = 0;
    // STATE of the local record `p` to everyone (position, facing, animations, sounds, blood).
    virtual void SendState(const player& p) = 0;
    // KILLED for the machine of slot `killer`, who killed the local player with `power`.
    virtual void SendKilled(int32_t killer, int32_t power) = 0;
};

// What a record asks of the match it lives in, beyond the match's data (World): sounds, the
// spawn seed, the weapon power, the chat box, the local viewport, the 3D listener and the log.
// The game core implements it (core/match.cpp); tests implement their own. Called on the
// user-interface thread. Per frame (no allocation allowed): WeaponPower, ChatOpen,
// LocalViewport, SetListener.
class MatchServices {
public:
    virtual ~MatchServices() = default;
    // Loads a .wav file as a 3D sound. Null with `error` left empty when the match has no
    // sound system; null with `error` saying why when the file cannot be read.
    virtual std::unique_ptr<audio::Sound> LoadSound3d(const std::string& path,
                                                      std::string& error) = 0;
    // Reports the files a record could not load: its sounds and blood pictures when it is built,
    // a weapon's fire sound when the weapon changes. The record goes on without them.
    virtual void ReportLoadProblems(std::span<const LoadProblem> problems) = 0;
    // Seed of one of PlaceJoueur's draws (the clock in a match; fixed in tests).
    virtual uint32_t RandomSeed() = 0;
    // WeaponPower: the highest weapon rank the local player may carry, 1..4.
    virtual int32_t WeaponPower() const = 0;
    // Recomputes WeaponPower after a death of the local player.
    virtual void UpdateWeaponPower() = 0;
    // The chat box is open: the local player stands still.
    virtual bool ChatOpen() const = 0;
    // Closes the chat box as Enter would.
    virtual void CloseChat() = 0;
    // The local viewport (rectangle, front distance), or null when none exists; the record then
    // keeps its own parameters so the zoom state still works.
    virtual scene::ViewportParams* LocalViewport() = 0;
    // Rebuilds the local viewport on the whole device around `camera`, front distance 1.0.
    virtual void RebuildViewport(const std::shared_ptr<scene::Frame>& camera) = 0;
    // Places the 3D listener: position, facing and up relative to the scene frame.
    virtual void SetListener(const glm::vec3& position, const glm::vec3& front,
                             const glm::vec3& up) = 0;
    // Writes one line to the game's log (a player whose body the character model refused).
    virtual void Log(std::string_view line) = 0;
};

// Slots of the game core's character models; a record's MDLid indexes them.
inline constexpr int32_t kCharacterModelSlots = 3;

// What a record needs of the running match. The game core fills one before the players are
// created and keeps it alive (and unchanged) until the last record is destroyed; the player code
// reads it, never writes it. The models and the services are not owned.
struct World {
    std::shared_ptr<scene::Frame> sceneFrame;  // parent of every player's `cam`
    std::shared_ptr<scene::Frame> playerRoot;  // PlayerRootFrame: parent of every `joueur`
    std::shared_ptr<scene::Frame> wallFrame;   // spawn points of file maps and "entrepot"
    std::shared_ptr<scene::Frame> decorFrameA; // "couloirs" spawn points, team 0
    std::shared_ptr<scene::Frame> decorFrameB; // "couloirs" spawn points, other teams
    std::string mapName;
    std::array<glm::vec3, 4> spawnPoints{}; // file maps: scene units relative to wallFrame
    double modelScale = 0.08;               // scale of `joueur`
    bool boxMode = false;                   // hit boxes drawn instead of the skinned mesh
    int32_t localIndex = -1;                // slot of the local player
    std::string dataPath;                   // installation directory

    // --- collisions (map frames; picks test only pickable geometry) ---
    std::shared_ptr<scene::Frame> floorFrame;  // FloorFrame: the floor ray
    std::shared_ptr<scene::Frame> ladderFrame; // LadderFrame; null on the built-in maps
    // "couloirs": floor, wall, ceiling frames of section 1, then of section 2 (AfficheSecteur).
    std::array<std::shared_ptr<scene::Frame>, 6> sectionFrames{};
    double mapScale = 5.0; // deepest drop (scene units, rounded) the floor ray lets a player take

    // --- character models, weapons and sights ---
    // The loaded character models by MDLid: a record's body is built (RenvMesh), its animations
    // found (RenvAnimations, RenvAniMax) and posed (Anime) in model MDLid. A null slot: no body,
    // every animation is index 0 with last frame 0.
    std::array<model::MDL*, kCharacterModelSlots> characterModels{};
    // The `Main` frame of each weapon model (table order): its visuals and children, among
    // them "flash", are copied into the hand. Null: the hand stays empty.
    std::array<std::shared_ptr<scene::Frame>, kWeaponCount> weaponMains{};
    std::shared_ptr<scene::Texture> crosshairTexture; // overlay on devant in first person
    std::shared_ptr<scene::Texture> scopeTexture;     // overlay on devant while zoomed

    // --- the rest of the match ---
    // Null (tools, some tests): no sounds, nothing reported or logged, a random spawn seed,
    // weapon power 4, no chat box, the record's own viewport parameters, no listener.
    MatchServices* services = nullptr;
    MessageSink* network = nullptr; // null: messages go nowhere
};

// Spawn rows of the built-in maps (n = 1..11 is row n - 1). "couloirs": relative to DecorFrameA
// for team 0 and DecorFrameB otherwise; "entrepot": relative to the wall frame.
extern const std::array<glm::vec3, 11> kCorridorSpawns;
extern const std::array<glm::vec3, 11> kWarehouseSpawns;

// ---------------------------------------------------------------------------------------------
// 3. Remote players between states
// ---------------------------------------------------------------------------------------------

// Milliseconds of this machine's monotonic clock: the times of RemoteTrack in a match.
double NowMs();

// Where one STATE puts a remote player: scene units and directions relative to the scene frame,
// the head pitch in radians (pivot).
struct RemotePlacement {
    glm::dvec3 position{0.0};
    glm::dvec3 facing{0.0, 0.0, 1.0};
    double pivot = 0;
};

// The states received from one remote player, and where its body is drawn between them.
//
// Times: `nowMs` is this machine's clock (NowMs); `sentMs` is the sender's clock when it sent
// the state (a 32-bit millisecond count that may wrap), or none for a peer that does not stamp
// its states, whose arrival time then stands for it. The sender's clock is mapped onto this one
// by the smallest transit among the last kClockSamples states (so a drifting clock is followed).
//
// Drawing: the body is drawn DelayMs() behind the newest time a state could have come from,
// which is one send interval (the mean spacing of the states received, kMinDelayMs..
// kMaxDelayMs), so between two states it is interpolated: positions and pitch linearly, the
// facing along the arc. Past the newest state it goes on along the last velocity for at most
// kMaxExtrapolationMs and then stays where that left it. A state that begins a new life (the
// sender was dead and is not any more) or lies farther than kSnapDistance from the one before is
// a cut: the body is never drawn in between, it jumps there when the cut's time comes, and no
// velocity is taken across it. States older than the newest one received are dropped; one with
// the newest one's time replaces its placement.
class RemoteTrack {
public:
    static constexpr size_t kCapacity = 8;
    static constexpr double kMaxExtrapolationMs = 100.0;
    static constexpr double kSnapDistance = 20.0; // scene units
    static constexpr double kMinDelayMs = 5.0, kMaxDelayMs = 100.0;
    static constexpr size_t kClockSamples = 64;

    // Takes one state that arrived at `nowMs`; `dead`: the sender is dead in it.
    void Receive(const RemotePlacement& placement, std::optional<int32_t> sentMs, bool dead,
                 double nowMs);
    // Where the body is drawn at `nowMs`; none before the first state.
    std::optional<RemotePlacement> Sample(double nowMs) const;
    // The sender's clock now (mapped as above, no delay); none before the first state.
    std::optional<double> SenderNow(double nowMs) const;
    // The newest state received, as it came; null before the first.
    const RemotePlacement* Latest() const;
    // The sender's time of the newest state (sender's milliseconds, unwrapped).
    double LatestSentMs() const;
    double DelayMs() const { return delayMs_; }
    // Forgets every state (a record that is built again).
    void Clear();

private:
    struct Entry {
        RemotePlacement placement;
        double sentMs = 0; // unwrapped, sender's clock
        bool cut = false;  // not to be interpolated into from the entry before
    };
    const Entry& At(size_t i) const; // 0: oldest kept, count_ - 1: newest

    std::array<Entry, kCapacity> entries_{};
    size_t first_ = 0, count_ = 0;
    std::array<double, kClockSamples> transits_{}; // this clock minus the sender's, per state
    size_t transitCount_ = 0;                      // samples taken (the ring's next slot)
    int32_t lastRaw_ = 0;                          // last raw sender stamp
    double offsetMs_ = 0;                          // the smallest of transits_
    double delayMs_ = 1000.0 / 60.0;
    bool lastDead_ = false;
};

// ---------------------------------------------------------------------------------------------
// 4. Controls of one step
// ---------------------------------------------------------------------------------------------

// The inputs of one step of a record simulated on this machine: the human's, read from the
// keyboard and the mouse with the record's key fields, or a computer player's, made by its
// Pilot. "Held" means down during this step; the toggles (arme, vues, blocage) act only while
// the record's TOUCHE_OK is set.
struct Controls {
    bool avancer = false; // walk forward (K_up held)
    bool reculer = false; // walk backward (k_down held); wins over avancer
    bool gauche = false;  // strafe left (k_left held); wins over droite
    bool droite = false;  // strafe right (k_right held)
    bool tir = false;     // fire held: the fire key, or k_clic while the mouse controls
    bool clic = false;    // k_clic held: brings a dead player back once `pret`
    bool camera = false;  // k_camera held: the chase camera orbits (third person)
    bool arme = false;    // k_Arme down: the next weapon the rank allows
    bool vues = false;    // k_V1 down: the view cycle
    bool blocage = false; // k_V2 down: the pitch lock switches
    bool baisser = false; // k_baisser held: crouch
    double lacet = 0;     // yaw of this step, degrees; positive turns right
    double tangage = 0;   // pitch of this step, degrees; positive looks down
};

// What drives a record that this machine simulates without a person at it (a computer
// player's brain). Set in player::pilote before Initplayer and kept until Destroy; not owned.
class Pilot {
public:
    virtual ~Pilot() = default;
    // The controls of `p`'s next step, called once per frame by Avance before the step, also
    // while `p` is dead. Per frame: allocates nothing in the steady state, throws nothing.
    virtual void Decide(const player& p, Controls& controls) = 0;
};

// ---------------------------------------------------------------------------------------------
// 5. The player record
// ---------------------------------------------------------------------------------------------

// The participant record. Every field starts at 0, false, empty text or no frame. The frames are
// owned by the record until Destroy; the character model creates `MDroite` and `tete` and hangs
// the hit-box frames under `base` and the skinned mesh under `Peau`. The fields of
// model::Instance are the record's own: identity (indice, IdModele, texture), the frames base,
// Peau, MDroite, tete, the render copy IdSkm and the pose (Anipos, AniBuste, fps, fps2,
// colonne, pivot).
class player : public model::Instance {
public:
    player();
    ~player();
    player(player&&) noexcept;
    player& operator=(player&&) noexcept;

    // Builds the record in `world` (kept by reference until Destroy). The caller has set MDLid,
    // IdArme, indice, id, nom, IdModele, texture and, for the local player, inverse, Souris and
    // the key fields. Creates joueur under world.playerRoot (scaled by world.modelScale), base,
    // Peau, Fleche, Frmsang, axe, axe2, chasse, devant and cam; builds the character instance;
    // loads the fire sound, the five player sounds and the blood decals (any that cannot be
    // read is reported through world.services and left out); places the local player
    // on a spawn point; starts the idle animation with its heartbeat. joueur ends with
    // traversal options 0 (the caller shows it).
    void Initplayer(const World& world);
    // Moves joueur to a spawn point of the map (see kCorridorSpawns, kWarehouseSpawns and
    // World::spawnPoints); on file maps the floor ray then drops it. The point is drawn with
    // the match's seed; when another shown body stands on it, the next free point in the
    // map's order is taken instead (the drawn one when none is free). Requires Initplayer.
    void PlaceJoueur();

    // --- one frame (per frame: allocates nothing in the steady state, throws nothing) ---
    // One frame of this player: the blood splash step, then for a remote player the last
    // received state (position, weapon, pose, sounds), for a record simulated here (the human
    // or a piloted one) scrute_clavier; then PositionneBoite; the state of a record simulated
    // here goes out through SendState.
    void Avance();
    // The step of a record simulated here: its controls (the human's keyboard and mouse, or its
    // pilot's), respawn, turning, firing, weapon and view switches, pitch lock, crouch, strafe
    // lean, the two moves with wall, floor and ladder tests, animation, camera targets and the
    // third-person camera follow.
    void scrute_clavier();
    // The human's controls of this step from the keyboard and the mouse (the cursor goes back
    // to the view centre); no yaw or pitch without mouse control, no pitch under the lock.
    Controls LitClavierSouris();
    // Puts the record in the first-person view as the view key does (the person's camera at
    // the eyes, the sight); nothing when it is already there.
    void VuePremierePersonne();
    // This record is the person at this machine (World::localIndex).
    bool Humain() const;
    // This record is simulated on this machine: the human, or a record with a pilot.
    bool Local() const;
    // End of every player's frame: body frames at (0, 6, 0) relative to joueur, the position
    // and facing copied into gPlayerposition* / gPlayerori1*, sounds and (local) the listener.
    void PositionneBoite();

    // --- collisions (rays into the map frames; scene coordinates) ---
    // Wall probe from frame `qui` along its facing times `signe`: sets XX / ZZ to 100 when the
    // first wall hit lies within 3.0 of the probe along x / z; runs CollisionsEchelles first.
    void Collisions(const scene::Frame& qui, int32_t signe);
    // Ladder probe (heights 0, -5, +5 around `qui`): sets echelle when a ladder is within 3.0.
    void CollisionsEchelles(const scene::Frame& qui, int32_t signe);
    // Floor ray below `qui`: stands it 2.5 (1 crouching) above the floor or lets it fall 1.0.
    // False when there is no floor or the drop (rounded) is deeper than the map's scale.
    bool lance_une_RAY(scene::Frame& qui);
    // Whether the floor ray below `qui` finds a floor it may stand on (as lance_une_RAY, but
    // moving nothing).
    bool SolAPortee(const scene::Frame& qui);
    // "couloirs": shows and makes solid the corridor sections around `qui`'s depth (z).
    void AfficheSecteur(const scene::Frame& qui);

    // --- shooting, hits and death ---
    // One shot attempt of the local player (nothing while the shoot animation runs).
    void tir();
    // The bullet ray from `qui` along its facing into the players' frames; a hit on another
    // player goes to SendHit. A shot hitting nothing or the shooter itself does nothing.
    void lance_une_Bastos(const scene::Frame& qui);
    // A hit on this (local) record, as the network delivers it: `balle` is the power (-1 head
    // shot), `tireur` the shooter's slot, (X, Y, z) the hit point relative to the scene frame.
    // Ignored while dead. Blood, hit sound, damage; at zero health Meurt and SendKilled.
    void Toucher(int32_t balle, int32_t tireur, float X, float Y, float z);
    // The death of the local player: scope off, crosshair back, death animation and sound,
    // `tue` + 1, not ready until the death animation has ended.
    void Meurt();
    // Messages through `messages` (else World::network). SendHit counts a head shot (a bone name
    // containing "Head") in `snipper` and sends power -1, else the weapon's power.
    void SendHit(int32_t target, std::string_view boneName, const glm::vec3& point);
    // SendState hands the record to the sink, then clears idson2 and idson3 (sent once).
    void SendState();
    void SendKilled(int32_t killer, int32_t power);

    // --- animation and weapon ---
    void Attend();    // legs to baisser + "idle1" (restarts only when the name changes)
    void Court();     // legs to baisser + "run"
    void animation(); // advances the local animations, ends torso actions, reloads, poses
    // Loops (`looop` 1) or plays once (0) body sound slot `id` (0..4) and sends it as idson.
    void JoueSon(int32_t id, int32_t looop);
    // Makes `dest` a deep copy of `source` (visuals and child frames); the copy of a child named
    // "flash" becomes the muzzle `flash`. Caps NbBastos at the current weapon's magazine.
    void ColleArme(const scene::Frame& source, scene::Frame& dest);
    // First-person eye: chasse relative to tete and devant relative to chasse, by weapon class.
    void PlaceArme();
    // Where a shot of this record leaves from now: the eye PlaceArme puts relative to tete, in
    // scene coordinates (tete's position when the weapon class has no eye; the origin of
    // joueur without tete). Shots go along axe2's facing.
    glm::vec3 OrigineTir() const;
    // The weapon in hand as the local view draws it, in a depth range of its own (the
    // renderer's held layer): MDroite in the first-person view at normal magnification; null in
    // the chase view and through the scope, where the weapon is drawn, or clipped, with the
    // scene.
    const scene::Frame* FirstPersonWeapon();

    // Detaches the whole frame tree of joueur and drops every frame, texture and sound held.
    // Safe on a record that was never initialised; never throws.
    void Destroy();

    // --- identity (indice, IdModele and texture: model::Instance) ---
    int32_t id = 0;     // session id of the player
    std::string nom;    // the player's name
    int32_t MDLid = 0;  // character model slot (0..2): World::characterModels, the game core's
                        // Models
    int32_t IdArme = 0; // current weapon, index in the weapon table (0..11)

    // --- match state ---
    int32_t NbBastos = 0; // bullets left in the magazine
    int32_t force = 0;    // health, 100 when alive and whole
    bool mort = false;    // dead
    bool pret = false;    // ready: a dead local player may respawn only while set
    int32_t tueur = 0;    // kills made in this match
    int32_t tue = 0;      // deaths in this match
    int32_t snipper = 0;  // head-shot hits made in this match (counted by SendHit)
    int32_t snipped = 0;  // deaths by head shot in this match
    double ratio = 1.0;   // frame-time factor: frame milliseconds / 20, set by the main loop

    // --- frames (base and Peau, under joueur at (0, 12, 0), MDroite and tete: model::Instance)
    std::shared_ptr<scene::Frame> joueur;  // under PlayerRootFrame: position and facing
    std::shared_ptr<scene::Frame> Fleche;  // wall probe under joueur
    std::shared_ptr<scene::Frame> Frmsang; // blood decals under joueur (drawn, not picked)
    std::shared_ptr<scene::Frame> axe;     // torso yaw counter-rotation, under joueur
    std::shared_ptr<scene::Frame> axe2;    // head pitch, under axe
    std::shared_ptr<scene::Frame> chasse;  // camera position target, under axe2
    std::shared_ptr<scene::Frame> devant;  // camera look-at target, under axe2
    std::shared_ptr<scene::Frame> cam;     // the view camera, under the scene frame
    std::shared_ptr<scene::Frame> flash;   // muzzle of the weapon in hand (weapon attachment)

    // --- sounds and decals ---
    std::unique_ptr<audio::Sound> Armeson;             // fire sound of the current weapon (3D)
    std::array<std::unique_ptr<audio::Sound>, 5> Sons; // pas, coeur, touche, mort, reload
    std::array<std::shared_ptr<scene::Texture>, 11> TexSang; // blood decals in 1..9

    // --- animation state (the pose Anime reads: model::Instance) ---
    std::string action;      // torso action: "aim", "shoot" or "reload"
    std::string baisser;     // "crouch_" while crouching, else empty
    std::string ani_pos_lib; // leg animation playing
    std::string ani_lib;     // torso animation playing

    // --- movement and controls (local player) ---
    double vitesse = 0;        // signed walking speed, -8..8
    double XX = 0, ZZ = 0;     // wall contacts of the last collision test; non-zero blocks
    bool echelle = false;      // on a ladder
    bool vue = false;          // true: first-person view; false: third-person chase view
    bool Fire = false;         // the fire input was acted on this frame
    bool SourisBloque = false; // pitch lock
    bool TOUCHE_OK = false;    // toggle keys may act (set again by the 400 ms key timer)
    bool Souris = false;       // mouse control on
    int32_t inverse = 1;       // mouse direction multiplier, +1 or -1
    int32_t K_up = 0, k_down = 0, k_right = 0, k_left = 0, k_Tir = 0; // DirectInput key codes
    int32_t k_V1 = 0, k_V2 = 0, k_Arme = 0, k_strafe = 0, k_baisser = 0;
    int32_t k_clic = kMouseInput;       // fires while the mouse is on; brings the dead back
    int32_t k_camera = kMouseInput + 1; // held: free camera
    double sensibilite = 1.0;           // mouse look multiplier (1: the plain speed)
    // Gives the key fields above the local player's keys (kKeyUp…kKeyCrouch).
    void AssignLocalKeys();

    // --- a record simulated here without a person (set before Initplayer; not owned) ---
    Pilot* pilote = nullptr;         // its controls; null: the human or a remote player
    MessageSink* messages = nullptr; // where its messages go; null: World::network
    int32_t puissance = 0;           // its weapon power, 1..4 (the human's is the match's)

    // --- last state received (remote players) ---
    // The position and facing as the last STATE gave them (relative to the scene frame); for
    // the local player, the values SendState sends. Where a remote body is drawn between states
    // is `trajet`'s to say (joueur's position).
    double gPlayerpositionx = 0, gPlayerpositiony = 0, gPlayerpositionz = 0;
    double gPlayerori1x = 0, gPlayerori1y = 0, gPlayerori1z = 0;
    RemoteTrack trajet; // the states received, which AvanceDistant draws the body between
    int32_t gPlayerArme = 0;
    int32_t idson = 0;  // sound slot looping (0..4)
    int32_t idson2 = 0; // 1: fired this frame
    int32_t idson3 = 0; // 1: was hit this frame

private:
    const WeaponRow& Arme() const;   // the current weapon's row (IdArme outside 0..11: row 0)
    model::MDL* Modele() const;      // the world's character model MDLid; null when none
    MatchServices* Services() const; // the world's services; null outside a match or when none
    // Index of the animation `name` in the character model (RenvAnimations); 0 without a model.
    int32_t AnimationNommee(std::string_view name) const;
    // Last frame number of animation `index` (RenvAniMax); 0 without a model.
    int32_t DerniereImage(int32_t index) const;
    void Pose(); // poses the body in the character model (Anime); nothing without a model
    // Loads a 3D sound through the services; a file that cannot be read joins `problems`.
    std::unique_ptr<audio::Sound> ChargeSon(const std::string& file,
                                            std::vector<LoadProblem>& problems) const;
    void PoseAuPoint(int i); // joueur on spawn point i (0-based) of the map
    bool PointLibre() const; // no other shown body near joueur (PlaceJoueur)
    scene::ViewportParams& VueLocale();
    bool Zoome();                        // the local viewport's front distance is not 1.0
    void EtapeSang();                    // Avance step 1: the nine-frame blood splash
    void AvanceDistant();                // Avance step 2: a remote player's received state
    void ChangeArme(int32_t arme);       // weapon frame exchange and fire sound
    void ChangeVue();                    // the view cycle first person -> scope -> third person
    void NomTorse(std::string_view act); // ani_lib = "ref_" + act + "_" + class, AniBuste
    // --- the step of a living local player (scrute_clavier), in this order ---
    // Turning, firing, weapon and view switches, pitch lock, crouch, speed, strafe lean, head
    // and legs, then the walk; returns the camera factor k (vitesse rounded, 5 when that is 0).
    double Pas(const Controls& c);
    struct MouseLook; // yaw and pitch of one step, and the cursor's home point
    struct MoveKeys;  // the movement keys of one step
    // The cursor's offset from the view centre as yaw and pitch in degrees (0 without mouse
    // control or, for the pitch, under the pitch lock).
    MouseLook ReadMouseLook();
    // Turns joueur by the yaw and adds the pitch to pivot (zoomed without the right button:
    // a fifth of the yaw, a quarter of the pitch); nothing while the right button orbits the
    // chase camera.
    void Turn(const MouseLook& look, bool droit);
    // tir while fire is held and no reload runs; Fire says whether it did.
    void FireOrHold(bool feu);
    // The next weapon the rank allows, on `demande` or at once when the rank no longer allows
    // the weapon in hand; a weapon of another class than "rifle" leaves the scope.
    void SwitchWeaponWhenAsked(bool demande);
    // The view cycle and the pitch lock, while the toggle keys may act.
    void ToggleViewAndPitchLock(bool vues, bool blocage);
    // The weapon power this record may carry: its own for a piloted record, else the match's
    // (4 without services).
    int32_t PuissanceArme() const;
    // The movement keys, later ones winning: left over right, down over up.
    MoveKeys ReadMoveKeys(const Controls& c) const;
    // While a movement key is down, vitesse changes by the acceleration (within -8..8) and the
    // run animation plays; without one, vitesse is 0 at once and the idle animation plays.
    void ChangeSpeed(const MoveKeys& keys);
    // Moves colonne one 15-degree step toward the lean of the strafe; returns the step's turn
    // of the legs (-15, 0 or 15 degrees, a third of what TurnHeadAndLegs applies).
    double LeanIntoStrafe(const MoveKeys& keys);
    // The head: the orbit's yaw and pitch while the right button orbits the chase camera, else
    // pitched by 3 x pivot radians. The legs: joueur turned by 3 x s degrees and axe by the
    // opposite, so the head keeps its direction.
    void TurnHeadAndLegs(bool droit, const MouseLook& look, double s);
    // The two moves of a step from `depart` (joueur's position before it, scene coordinates):
    // along the facing by |vitesse x ratio / 15|, the wall probe, the corridor sections, the
    // floor or the ladder, then the same distance again along the axes the walls leave free.
    void Walk(const glm::vec3& depart);
    // Wall probe behind joueur, pointing along the motion (sets XX, ZZ); a blocked axis takes
    // the first move back on that axis, so a thin wall is not crossed a move at a time.
    void ProbeWallsAhead(const glm::vec3& depart);
    // Climbing: joueur straight up `pas` from `depart`. Else the floor ray; without a floor in
    // reach joueur goes back to `depart` and both axes count as blocked.
    void StandOnFloorOrClimb(const glm::vec3& depart, float pas);
    // The second move: `motion` (scene coordinates, unit length) without its blocked axes,
    // nothing when both are blocked.
    void SlideAlongWalls(const glm::vec3& motion, float pas);
    void CiblesCamera(bool orbite); // camera targets (orbit: right button, third person)
    void SuitCamera(double k);      // third-person camera follow

    // AvanceDistant: the remote animations played on between states. Frames of animation
    // Anipos (legs) and AniBuste (torso), and this clock (NowMs) when they were last advanced.
    struct AnimationDistante {
        int32_t anipos = -2, aniBuste = -2; // the animations playing (-2: none yet)
        double jambes = 0, torse = 0;
        double atMs = 0;
    };
    // Steps the remote animations to `nowMs`: the frames received (fps, fps2) advanced by the
    // time since their state on the sender's clock; a local frame within one frame of that goes
    // on undisturbed, so the rounding of the frames sent does not jerk the body.
    void PoursuitAnimations(double nowMs);

    const World* monde_ = nullptr;    // the match, from Initplayer until Destroy
    AnimationDistante animDistante_;  // remote players only
    double pivot_memo = 0;            // pitch saved when the pitch lock is switched
    int32_t sonActif_ = -1;           // SonActif: the Sons slot looping now, -1 none
    scene::ViewportParams vueLocale_; // used when the match has no local viewport
    scene::PickResults hits_;         // reused by every ray of this record
    Controls commandes_;              // the controls of the current step
    MessageSink* Sink() const;        // `messages`, else the world's network; null: none
};

} // namespace player
