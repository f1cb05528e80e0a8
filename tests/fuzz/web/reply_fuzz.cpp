// Any bytes as the reply of the game list, account, map list or message script: reading never
// crashes and every listed game line has exactly one record.
#include "core/game_state.h"
#include "platform/xml/xml.h"
#include "web/web.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    xml::Document document;
    if (!document.LoadBytes(std::span(data, size))) return 0;
    const xml::Node root = document.DocumentElement();

    web::ReadServerList(root);
    if (web::ServerList.size() != web::ServerLines.size()) std::abort();

    web::ReadAccount(root);
    web::ReadMapList(root);
    (void)web::ReadMessages(root);
    return 0;
}
