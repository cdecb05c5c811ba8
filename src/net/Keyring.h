// The desktop's keyring (the Secret Service of GNOME Keyring, KeePassXC or KWallet's
// bridge), where Chromium-family browsers keep the password of their "v11" cookie values.
#pragma once

#include <string>
#include <string_view>

namespace brenvik {

struct KeyringSecret {
    std::string secret;   // empty when none could be had
    std::string problem;  // why not, in words for the user
};

// The secret of the keyring item with this label ("Chromium Safe Storage"). Asks nothing
// when the session has no message bus, and never prompts to unlock.
KeyringSecret LookUpKeyringSecret(std::string_view label);

}  // namespace brenvik
