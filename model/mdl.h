// model/mdl.h — the skeletal model: QC and SMD readers, skinning, textures and the map texture
// callback.
//
// Index
//   1. Text rules shared by the readers   (ReplaceAll, ReplaceFirst, ParseNumber, ToLong, fields,
//                                          names)
//   2. Errors                             (ModelError: file, line, reason)
//   3. Records                            (HitBox, BoneLink, SkinGroup, RenderCopy)
//   4. Settings handed down by the game   (ModelSettings)
//   5. Weapon table                       (CaracteristiquesArme, FichierArme)
//   6. A player's instance                (Instance: what RenvMesh builds and Anime poses)
//   7. MDL                                (loading, searches, animation, skinning)
//   8. Textures                           (ChargeUneTexture, the map texture callback Class1)
//
// Coordinate spaces: "model coordinates" are those of the model's `sol` frame. The skeleton
// hangs under `sol` (sol -> socle -> Mere -> root bones); bone-bound frames of a player receive
// their bone's transform relative to `sol`, and skinned vertex positions are written in `sol`'s
// coordinates, so that a player's `Peau` and `base` frames stand where `sol` would.
//
// Loading (Load, CreeFrame) throws ModelError on bad input; CreeAnim reports nothing (a faulty
// animation file ends its own set). The per-frame routines (Anime, AnimeMultiVertex,
// AnimeSkmVertex, RenduMesh) allocate nothing and throw nothing.
#pragma once

#include "platform/scene/scene.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace model {

// =============================================================================================
// 1. Text rules shared by the readers
// =============================================================================================

// Removes leading and trailing spaces (code 32) only; tabs stay.
std::string_view TrimSpaces(std::string_view text);

// Scans positions 0..n-1 of the original length n once: wherever the current text holds
// `pattern` at position i, it becomes text[0, i) + replacement + the rest after the pattern; the
// scan goes on at i + 1 in the changed text and n is not recomputed. An empty pattern changes
// nothing.
std::string ReplaceAll(std::string_view text, std::string_view pattern,
                       std::string_view replacement);

// The text with its first `character` replaced by `replacement`; unchanged without it.
std::string ReplaceFirst(std::string_view text, char character, std::string_view replacement);

// Reads a number written with `decimalSeparator` as the decimal mark, after the field's first "."
// has been replaced by it (so "1.5" reads as 1.5 under both "." and ","). Accepted: optional sign,
// digits with at most one decimal mark (digits on at least one side), optional exponent. Nothing
// else (no blanks, no thousands marks, no inf/nan); a value out of range is refused. Never
// consults or changes the process's C locale. nullopt when the field is not such a number.
std::optional<double> ParseNumber(std::string_view field, std::string_view decimalSeparator);
std::optional<float> ParseNumberSingle(std::string_view field, std::string_view decimalSeparator);

// A 32-bit integer written as optional sign and decimal digits; nullopt otherwise or on overflow.
std::optional<int32_t> ParseInteger(std::string_view field);

// Forgiving conversion of a text to a 32-bit integer: blanks around are ignored, a decimal number
// (read as ParseNumber does) is rounded half to even; anything that is not a number or lies
// outside the 32-bit range gives 0.
int32_t ToLong(std::string_view value, std::string_view decimalSeparator);

// Removes leading and trailing blanks: spaces and tabs.
std::string_view TrimBlanks(std::string_view text);

// Splits a data line into its fields: any run of blanks (spaces and tabs) separates two fields,
// and blanks at either end of the line are ignored. `fields` receives them in order (none for a
// blank line).
void SplitFields(std::string_view line, std::vector<std::string_view>& fields);

// Bone-name normalisation: every " " becomes "_", then every "-" becomes "D".
std::string NormaliseName(std::string_view name);

// The text between the line's first and second double quotes, trimmed; nullopt without two.
std::optional<std::string_view> QuotedName(std::string_view line);

// =============================================================================================
// 2. Errors
// =============================================================================================

// A model file that cannot be read as the game reads it. what() reads "FILE:LINE: reason"
// (line 0 when the error concerns the whole file, e.g. it cannot be opened).
class ModelError : public std::runtime_error {
public:
    ModelError(std::string file, int line, const std::string& reason);
    const std::string& File() const { return file_; }
    int Line() const { return line_; }

private:
    std::string file_;
    int line_ = 0;
};

// =============================================================================================
// 3. Records
// =============================================================================================

// One `$hbox` line: the normalised bone name and the box in the model's axes (the file's first
// two axes exchanged). `BoxMesh` is the drawn template box (built when MDL::Boite is set).
struct HitBox {
    std::string Name;
    float MinX = 0, MinY = 0, MinZ = 0;
    float MaxX = 0, MaxY = 0, MaxZ = 0;
    std::shared_ptr<scene::MeshBuilder> BoxMesh;
};

// The vertices of one skin group that one bone carries. Entry i of both lists is one vertex:
// its index in the group's mesh and its position in the bone frame's coordinates at load time.
struct BoneLink {
    std::shared_ptr<scene::Frame> Frame;
    std::vector<int32_t> VertexIndices;
    std::vector<glm::vec3> LocalPositions;
};

// One "triangles" section of an SMD reference file.
struct SkinGroup {
    std::shared_ptr<scene::MeshBuilder> Mesh; // vertices in bone-local positions
    std::vector<BoneLink> Links;              // in order of first use
    int32_t CopyCount = 0;                    // render copies made of this group (RenvMesh)
};

// One player's renderable copy of a skin group.
struct RenderCopy {
    std::shared_ptr<scene::Frame> SkinFrame;           // the player's Peau
    std::shared_ptr<scene::Mesh> Mesh;                 // the mesh drawn under Peau
    std::vector<scene::VertexRecord> Vertices;         // the mesh's vertex group, skinned here
    std::vector<std::vector<glm::vec3>> LinkPositions; // per link: positions in model coords
    int32_t Group = 0;                                 // index into the skin groups
};

// =============================================================================================
// 4. Settings handed down by the game
// =============================================================================================

// Values of the game state that the model code reads. The game core fills them from its own
// state before loading (the model module does not see the game core); the defaults suit tools
// and tests. They are read, never written, by the model.
struct ModelSettings {
    std::string decimalSeparator = "."; // the user's decimal mark for the files' numbers
    std::string dataPath;               // first folder of the texture search path
    std::string programDir;             // installation directory (skins under "models/")
    bool boxMode = false;               // draw hit boxes instead of skinned meshes
    int32_t team = 0;                   // local team: 0 gives blue hit boxes, others red
    // Tools: a texture of an SMD file that cannot be loaded is noted in MDL::TextureErrors() and
    // its faces stay untextured, instead of ending the load (the game keeps this off).
    bool noteTextureErrors = false;
};

// =============================================================================================
// 5. Weapon table
// =============================================================================================

// One row of the weapon table. The weapon models are loaded in this order and a player's
// `IdArme` indexes it. The QC file is the class, "_" and the name, with the extension ".QC".
// The table lives with the model: the weapon models' reader (Load) takes their statistics from
// it, and the player, the game core and the screens above read the same rows.
struct WeaponRow {
    std::string_view name;   // weapon name, lower case ("ak47")
    std::string_view qcFile; // QC file in the weapons directory ("mp5_ak47.QC")
    std::string_view classe; // weapon class: torso animations and placement ("mp5")
    int32_t magazine;        // bullets per magazine
    int32_t power;           // damage per hit
    int32_t rank;            // weapon class 1..4: the rank needed to carry it
    bool scope;              // has a telescopic sight
};

inline constexpr int32_t kWeaponCount = 12;
extern const std::array<WeaponRow, kWeaponCount> kWeaponTable;

// Statistics of the weapon `name`, matched without regard to ASCII case. For a known name the
// four outputs are written and true is returned; for an unknown name `scope` becomes false, the
// other three keep the caller's values, and false is returned.
bool CaracteristiquesArme(std::string_view name, int32_t& magazine, int32_t& power, int32_t& rank,
                          bool& scope);

// QC file name of weapon `index` (0..11); empty for any other index.
std::string FichierArme(int32_t index);

// =============================================================================================
// 6. A player's instance
// =============================================================================================

// One player's instance of a character model: the values RenvMesh reads and the frames it
// builds, and the pose Anime reads. The player record owns it (the record derives from it, so
// the fields keep their names on the record). The owner creates `base` and `Peau` and sets the
// identity fields before RenvMesh; RenvMesh creates `MDroite` and `tete` when they are absent
// and sets `IdSkm`; Anime reads the pose and moves the bone-bound frames. The frames are
// shared with the scene; the instance holds them until its owner drops them.
struct Instance {
    // --- identity, set by the owner before RenvMesh ---
    int32_t indice = 0;   // player slot 0..4; stored on the hit-box copies so a pick names the
                          // player hit
    int32_t IdModele = 0; // team (0 "TERRORIST", else "GIGN"); also the skin group used
    std::string texture;  // skin picture in the models directory: "TS"/"GS" + skin + ".bmp"

    // --- frames (model coordinates below base and Peau are those of the model's sol) ---
    std::shared_ptr<scene::Frame> base;    // holds the hit-box frames and rigid bone meshes
    std::shared_ptr<scene::Frame> Peau;    // carries the skinned mesh
    std::shared_ptr<scene::Frame> MDroite; // the weapon frame on the hand bone (under Peau)
    std::shared_ptr<scene::Frame> tete;    // the head frame (on the head bone)
    int32_t IdSkm = 0;                     // this instance's render copy (set by RenvMesh)

    // --- pose, read by Anime ---
    int32_t Anipos = 0;   // full-body (leg) animation: index in the model's sets
    int32_t AniBuste = 0; // upper-body animation index; -1 leaves the torso to Anipos
    double fps = 0;       // current frame number of the full-body animation
    double fps2 = 0;      // current frame number of the upper-body animation
    int32_t colonne = 0;  // spine twist in whole degrees, -30..30 in steps of 15
    double pivot = 0;     // head pitch accumulator in radians: each of three spine bones pitches
                          // by it (the player's axe2 by three times it)
};

// =============================================================================================
// 7. MDL
// =============================================================================================

struct LineReader; // the readers' line source (model_local.h)

// A skeletal model read from a QC description. Created empty by its owner, given `MultiMesh`
// and `Boite` (and `settings`), then loaded once. After Load it is a template: RenvMesh makes a
// per-player instance and Anime/AnimeSkmVertex animate it. The model owns its frames, meshes,
// animation sets and render copies for its whole life.
class MDL {
public:
    MDL() = default;
    MDL(const MDL&) = delete;
    MDL& operator=(const MDL&) = delete;

    // --- read and written by the game ---
    int32_t NbBastos = 0;                // weapon models: bullets per magazine
    int32_t PowerBastos = 0;             // weapon models: damage per hit
    bool snipper = false;                // weapon models: has a telescopic sight
    int32_t rang = 0;                    // weapon models: weapon class 1..4 (rank needed)
    std::string nom;                     // the QC file name given to Load
    bool Boite = false;                  // build a drawn box on every bone named by a `$hbox` line
    std::shared_ptr<scene::Frame> sol;   // root frame of the model (child of Load's parent)
    std::shared_ptr<scene::Frame> Mere;  // parent of the root bones; carries the axis turn
    std::shared_ptr<scene::Frame> socle; // between sol and Mere
    std::shared_ptr<scene::Frame> tete;  // the bone "Bip01_Head" (none without it)
    std::shared_ptr<void> son;           // sound slot for the callers
    bool MultiMesh = false; // triangles wholly on one bone become that bone's rigid mesh
    std::string deplacement, action, ani_lib; // free text slots for the callers
    std::string typ_arme;                     // weapon models: the class, nom before the first "_"
    std::string lib_arme; // weapon models: the name, nom after "_" without its last 3 chars
    std::shared_ptr<scene::Frame> Main;  // the bone "Bip01_R_Hand" (none without it)
    int32_t NbAni = 0;                   // animation sets read
    int32_t AniCours = 0, AniCours2 = 0; // slots for the callers
    bool tir = false;                    // slot for the callers
    double fp2 = 0;                      // slot for the callers
    std::shared_ptr<MDL> Arme;           // the weapon model held; slot for the callers

    ModelSettings settings; // set by the owner before Load

    // --- loading ---
    // Reads directory + "/" + nom (the QC file) with its SMD files under `parent` (may be null).
    // With isWeapon, nom must read CLASS_NAME.EXT; the weapon table fills the statistics and
    // `sol` is neither drawn nor picked. Throws ModelError naming the file and line.
    void Load(const std::shared_ptr<scene::Frame>& parent, std::string_view nom,
              std::string_view directory, bool isWeapon);
    // Reads ModelDir + name + ".smd": the first such file creates the skeleton; every one poses
    // it from its "time 0" block and adds its triangles. Throws ModelError.
    void CreeFrame(std::string_view name);
    // Reads ModelDir + name + ".smd" into a new animation set; a faulty file ends its set early
    // (the set stays counted) and is noted in AnimErrors(). A missing file adds no set.
    void CreeAnim(std::string_view name);
    // Builds the drawn template box of the bone when a hit box names it and Boite is set.
    void dessineboite(const std::shared_ptr<scene::Frame>& boneFrame);

    // --- searches ---
    // First bone whose frame name equals `name` exactly; null when none.
    std::shared_ptr<scene::Frame> ChercheFrames(std::string_view name) const;
    // Lowest vertex index of `builder` whose position equals (x, y, z) and whose texture
    // coordinates equal (u, v) (float equality); -1 when none. Linear; the loader welds with a
    // hash map that returns the same index.
    static int32_t ChercheVertex(const scene::MeshBuilder& builder, float x, float y, float z,
                                 float u, float v);
    // Lowest set index whose name occurs inside `name` (case-sensitive); 0 when none matches.
    int32_t RenvAnimations(std::string_view name) const;
    // Frame number of the last time block of set `index`; 0 for an index without a set.
    int32_t RenvAniMax(int32_t index) const;

    // --- quaternions (scalar first) ---
    // (cos(angle/2), sin(angle/2) * axis), computed in double precision; angle in radians.
    static glm::quat AxisAngleQuat(const glm::dvec3& axis, double angle);
    // (qy * qx) * qz with qx about (1,0,0) by a0, qy about (0,1,0) by a1, qz about (0,0,1) by a2.
    static glm::quat EulerToQuat(float a0, float a1, float a2);

    // --- per-player instances and animation ---
    // Builds `p`'s instance: hit-box frames and rigid bone meshes under p.base, the skinned mesh
    // (textured with p.texture) under p.Peau, p.MDroite and p.tete, and a render copy (p.IdSkm).
    // Called once per player. Throws ModelError when p.IdModele names no skin group.
    void RenvMesh(Instance& p);
    // Poses the shared skeleton for `p` (animation sets, spine twist and pitch) and copies the
    // pose to p's mesh and bone-bound frames. Per frame; invalid indices are skipped.
    void Anime(Instance& p);
    // Skins render copy `copyIndex` of group `group`: each link's vertices carried by its bone
    // into model coordinates. Groups with fewer than two links are skipped.
    void AnimeMultiVertex(int32_t copyIndex, int32_t group);
    // Writes every render copy's skinned positions into its mesh. Once per frame, after every
    // player's Anime; not called in box mode.
    void AnimeSkmVertex();
    // Gives every child of `frame` the transform of its bone (application value = index + 1)
    // relative to `sol`.
    void RenduMesh(const scene::Frame& frame) const;

    // --- textures ---
    // Loads settings.programDir + "/models/" + fileName and makes it the builder's texture.
    // Failures leave the builder unchanged; a file name with a folder part is refused.
    void ChargeUneTexture(scene::MeshBuilder& builder, std::string_view fileName) const;

    // --- read-only views for tools and tests ---
    const std::string& GetModelDir() const { return ModelDir; }
    int32_t GetBoneCount() const { return BoneCount; }
    const std::vector<std::shared_ptr<scene::Frame>>& GetBones() const { return Bones; }
    const std::vector<int32_t>& GetBoneParents() const { return BoneParents; }
    const std::vector<std::shared_ptr<scene::MeshBuilder>>& GetBoneMeshes() const {
        return BoneMeshes;
    }
    const std::shared_ptr<scene::Frame>& GetSpineFrame(size_t slot) const {
        return SpineFrames[slot < SpineFrames.size() ? slot : SpineFrames.size() - 1];
    }
    const std::vector<HitBox>& GetHitBoxes() const { return HitBoxes; }
    const std::vector<SkinGroup>& GetSkinGroups() const { return SkinGroups; }
    int32_t GetSkinGroupCount() const { return SkinGroupCount; }
    const std::vector<std::shared_ptr<scene::AnimationSet>>& GetAnimSets() const {
        return AnimSets;
    }
    const std::vector<RenderCopy>& GetRenderCopies() const { return RenderCopies; }
    const scene::SearchPath& GetTextureSearchPath() const { return TexturePath; }
    // One "FILE:LINE: reason" per animation file that ended early, in reading order.
    const std::vector<std::string>& AnimErrors() const { return AnimErrorList; }
    // With settings.noteTextureErrors: one "FILE:LINE: reason" per texture that could not be
    // loaded, at its first use.
    const std::vector<std::string>& TextureErrors() const { return TextureErrorList; }

private:
    struct Welder;

    void ReadQcHitBox(std::string_view line, const std::string& file, int lineNo);
    void ReadNodes(LineReader& in);
    void ReadPose(LineReader& in);
    void ReadTriangles(LineReader& in);
    std::shared_ptr<scene::Texture> TextureNamed(const std::string& name, const LineReader& in);
    bool ReadAnimation(LineReader& in, scene::AnimationSet& set, bool blend, int32_t& lastTime);
    const glm::mat4& ModelToBone(int32_t bone);
    glm::mat4 BoneToModel(int32_t bone) const;
    // BoneToModel of the current pose through the load-time cache: a bone's transform is its
    // parent's times its own, so a whole skeleton costs one product per bone.
    const glm::dmat4& CachedBoneToModel(int32_t bone);
    // Forgets the load-time transforms (the skeleton or its pose changed).
    void ResetBoneCaches();
    int32_t BoneOfFrame(const scene::Frame& frame) const;

    std::string ModelDir;                             // directory given to Load + "/"
    std::vector<std::shared_ptr<scene::Frame>> Bones; // in the order of the nodes section
    std::vector<int32_t> BoneParents;                 // -1 for a root bone
    int32_t BoneCount = 0;
    std::vector<std::shared_ptr<scene::MeshBuilder>> BoneMeshes; // rigid mesh per bone or null
    std::vector<std::shared_ptr<scene::Frame>> SpineFrames =
        std::vector<std::shared_ptr<scene::Frame>>(5);
    std::vector<HitBox> HitBoxes;      // in QC order
    std::vector<SkinGroup> SkinGroups; // one per triangles section
    int32_t SkinGroupCount = 0;
    std::vector<std::shared_ptr<scene::AnimationSet>> AnimSets; // in QC order
    std::vector<RenderCopy> RenderCopies;

    scene::SearchPath TexturePath; // data path; model directory
    std::vector<std::pair<std::string, std::shared_ptr<scene::Texture>>> TextureCache;
    std::unordered_map<std::string, int32_t> BoneByName;     // first bone of each name
    std::vector<std::optional<glm::mat4>> ModelToBoneCache;  // valid for the current pose
    std::vector<std::optional<glm::dmat4>> BoneToModelCache; // valid for the current pose
    std::vector<std::string> AnimErrorList;
    std::vector<std::string> TextureErrorList;
};

// =============================================================================================
// 8. Textures
// =============================================================================================

// Texture loading callback of the map meshes. The six sky face names map to the current sky's
// pictures in programDir/map/env/; every other name is looked up in programDir/map/textures/,
// and a found texture whose name starts with "{" gets blue as its transparent colour. Pictures
// may be BMP, TGA or PNG, and a missing name is also tried with the other two extensions
// (scene::LoadTexture). Names that climb out of the folder ("..", absolute paths) find nothing.
// Errors give no texture.
class Class1 {
public:
    std::string programDir;     // installation directory
    std::string skyName;        // prefix of the current sky's six pictures (SkyName)
    std::function<void()> pump; // lets the window process pending messages; may be empty

    std::shared_ptr<scene::Texture> LoadTexture(const std::string& textureName) const;
    // The callback in the form the .x loaders take; it refers to this object.
    scene::TextureCallback AsCallback() const;
};

} // namespace model
