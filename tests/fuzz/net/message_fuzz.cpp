// Random bodies for the in-game message handler, from a player in the match, a stranger or the
// session itself, against a running match of four records: nothing may read past a body, index
// outside the slots or bring the match down.
#include "core/game_state.h"
#include "net/net.h"

#include <cstddef>
#include <cstdint>

namespace {

// The match runner too: a START plays nothing, late joiners enter `world`.
struct Match : net::MatchRunner {
    int RunMatch() override { return 0; }
    const player::World* MatchWorld() const override { return &world; }

    Match() {
        root = scene::Frame::Create();
        world.sceneFrame = scene::Frame::Create(root);
        world.playerRoot = scene::Frame::Create(world.sceneFrame);
        world.network = &net::Sink;
        world.localIndex = 0;
        core::RootFrame = root;
        net::SetMatchRunner(this);
    }

    // Four players in slots 0..3 (the local one in 0), ids 101..104.
    void Reset(bool inGame) {
        for (int i = 0; i < core::kPlayerSlots; ++i) {
            auto& slot = core::Players[size_t(i)];
            if (slot) slot->Destroy();
            slot.reset();
            if (i == 4) continue;
            slot = std::make_unique<player::player>();
            slot->indice = i;
            slot->id = 101 + i;
            slot->Initplayer(world);
        }
        core::MyPlayerId = 101;
        core::LocalIndex = 0;
        core::PlayerCount = 4;
        core::InGame = inGame;
        net::MatchStatus.reset();
    }

    std::shared_ptr<scene::Frame> root;
    player::World world;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Match match;
    if (size < 1) return 0;
    // First byte: the sender (the session, a player of the match, a stranger) and the state.
    const uint8_t head = data[0];
    const uint32_t senders[] = {0, 102, 103, 104, 999};
    match.Reset((head & 0x80) == 0);
    session::Message body(std::vector<uint8_t>(data + 1, data + size));
    try {
        net::HandleMessage(senders[(head & 0x7F) % 5], body);
    } catch (const session::MessageReadError&) {
    } catch (const net::BadMessage&) {
    }
    return 0;
}
