// The manual page and the shell completions of brenvik-cli, made from its option table.
// The build keeps data/man and data/completion equal to what these return
// (scripts/gen-cli-docs.sh writes them; a test compares).
#pragma once

#include <string>

namespace brenvik::cli {

std::string ManPage();
// "bash" or "zsh"; empty for any other shell.
std::string CompletionScript(const std::string& shell);

}  // namespace brenvik::cli
