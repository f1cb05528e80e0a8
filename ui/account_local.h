// ui/account_local.h — the "SYSTEM BOARD" window, for OpenAccount and the tests.
#pragma once

#include "platform/window/window.h"

#include <array>
#include <string>

namespace ui {

class AccountScreen : public window::Screen {
public:
    // Fills the combos (the action on CHECK) and the fields from the shared state.
    AccountScreen();
    void Draw() override;

    // ChargeInfos: the shared state into the window.
    void ChargeInfos();
    // ReChargeInfos: the account with the typed fields to the server, its answer back into the
    // window. The fields replace the stored login, password and e-mail only when the server
    // accepts them; a refusal is told in a message box. A newer release is announced and turns
    // Command2 into DOWNLOAD.
    void ReChargeInfos();

    const std::string& AccountCaption() const { return numJoueur_; }
    const std::string& VersionCaption() const { return lblver_; }
    const std::string& UrlText() const { return txtver_; }
    const std::string& Command2Caption() const { return command2_; }
    const std::string& BoardCaption() const { return board_; }
    // The message board text (`message`): what is sent, or what CHECK read.
    std::string& MessageText() { return message_; }

private:
    void OnActionChanged(); // the board button's caption; the text is cleared
    void Board();           // btcmess: SEND or CHECK
    void Command2();        // CHECK VERSION or DOWNLOAD

    std::string numJoueur_;
    std::string txtlog_, txtpass_, txtpass2_, txtmail_;
    std::array<std::string, 5> lbl_;
    std::string lblsoft_, lblver_, txtver_;
    std::string command2_;
    int action_ = 1;
    int audience_ = 0;
    std::string board_;
    std::string message_;
};

} // namespace ui
