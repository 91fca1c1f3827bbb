#include "support/jis_text.hpp"

#include "support/iconv_util.hpp"

namespace rekmo::test {

const std::vector<std::string>& jis_characters() {
    static const std::vector<std::string> characters = [] {
        std::vector<std::string> all;
        for (int j1 = 0xA1; j1 <= 0xFE; ++j1)
            for (int j2 = 0xA1; j2 <= 0xFE; ++j2)
                if (auto utf8 = iconv_convert("EUC-JP", "UTF-8", {static_cast<char>(j1), static_cast<char>(j2)}))
                    all.push_back(*utf8);
        return all;
    }();
    return characters;
}

JisText random_jis_text(std::mt19937& rng, std::size_t count) {
    const std::vector<std::string>& all = jis_characters();
    std::string utf8;
    for (std::size_t i = 0; i < count; ++i) utf8 += all[rng() % all.size()];
    return {iconv_convert("UTF-8", "EUC-JP", utf8).value(), iconv_convert("UTF-8", "SHIFT_JIS", utf8).value()};
}

HostText random_host_text(std::mt19937& rng, std::size_t count) {
    // EBCDIC letters come in three runs; digits at F0; the space at 40.
    static const std::string text_chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ";
    static const std::string host_chars =
        "\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xD1\xD2\xD3\xD4\xD5\xD6\xD7\xD8\xD9\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9"
        "\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9\x40";
    HostText t;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t k = rng() % text_chars.size();
        t.host += host_chars[k];
        t.text += text_chars[k];
    }
    return t;
}

}  // namespace rekmo::test
