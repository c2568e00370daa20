#include "vm/textcase.hpp"

#include "vm/call.hpp"

namespace vm {
namespace {

Name n_lower{"lower"};
Name n_upper{"upper"};

Ref mapped(std::string text, bool to_upper) {
    bool ascii = true;
    for (char& c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
        if (to_upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (!to_upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    Ref s = vm::text(text);
    return ascii ? s : call_method(s, to_upper ? n_upper : n_lower);
}

}  // namespace

Ref lower(std::string text) { return mapped(std::move(text), false); }
Ref upper(std::string text) { return mapped(std::move(text), true); }

}  // namespace vm
