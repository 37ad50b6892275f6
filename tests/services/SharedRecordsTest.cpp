#include <gtest/gtest.h>

#include "services/KeyCombo.h"
#include "services/Rect.h"
#include "services/Str.h"

using namespace services;

TEST(RectTest, IntersectNormalisesAndClampsAtTheLargerLowEdges) {
    Rect r{0, 0, 10, 10};
    r.intersect({5, 5, -10, -10});
    EXPECT_EQ(r, (Rect{0, 0, 5, 5}));

    Rect apart{0, 0, 10, 10};
    apart.intersect({20, 20, 5, 5});
    EXPECT_EQ(apart, (Rect{20, 20, 0, 0}));

    Rect negative{10, 10, -10, -4};  // covers x 0…10, y 6…10
    negative.intersect({2, 0, 4, 20});
    EXPECT_EQ(negative, (Rect{2, 6, 4, 4}));
}

TEST(StrTest, DigestHexAndLetters) {
    EXPECT_EQ(Str::hex({0x00, 0xAB}), "00ab");
    EXPECT_EQ(Str::hex({}), "");
    EXPECT_EQ(Str::hex(Str::sha256(Bytes{'a', 'b', 'c'})),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Str::sha256({}).size(), 32u);

    EXPECT_EQ(Str::letters(0), "");
    EXPECT_EQ(Str::letters(-3), "");
    EXPECT_EQ(Str::letters(1), "b");
    EXPECT_EQ(Str::letters(25), "z");
    EXPECT_EQ(Str::letters(26), "ba");
    EXPECT_EQ(Str::letters(27), "bb");
    EXPECT_EQ(Str::letters(676), "baa");
}

TEST(StrTest, IntFromDigitsKeepsOnlyDigits) {
    EXPECT_EQ(Str::intFromDigits("12 px"), 12);
    EXPECT_EQ(Str::intFromDigits("a1b2"), 12);
    EXPECT_EQ(Str::intFromDigits("-5"), 5);
    EXPECT_EQ(Str::intFromDigits("px"), 0);
    EXPECT_EQ(Str::intFromDigits("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(Str::intFromDigits("9223372036854775808"), 0);
}

TEST(StrTest, SubstringCountsUserPerceivedCharacters) {
    EXPECT_EQ(Str::substring("abc", 1, 5), "abc");
    EXPECT_EQ(Str::substring("abc", 1, 2), "bc");
    EXPECT_EQ(Str::substring("abc", -1, 1), "abc");
    EXPECT_EQ(Str::substring("abc", 1, -1), "abc");
    EXPECT_EQ(Str::substring("abc", 3, 0), "");
    // "é" as e + combining acute, a flag of two regional indicators, a family joined by ZWJ.
    const std::string decomposed = "e\xCC\x81";
    const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    const std::string text = decomposed + flag + family + "x";
    EXPECT_EQ(Str::characterCount(text), 4u);
    EXPECT_EQ(Str::substring(text, 1, 1), flag);
    EXPECT_EQ(Str::substring(text, 2, 2), family + "x");
    EXPECT_EQ(Str::substring(text, 0, 5), text);
    // Malformed bytes count one each and are never split past the end.
    EXPECT_EQ(Str::characterCount("\xE2\x80"), 2u);
}

TEST(StrTest, Utf8CheckFollowsTheStandard) {
    auto ok = [](std::string_view s) { return Str::isValidUTF8(s); };
    EXPECT_TRUE(ok(""));
    EXPECT_TRUE(ok("plain"));
    EXPECT_TRUE(ok("\xC2\x80"));          // U+0080, the smallest two-byte form
    EXPECT_TRUE(ok("\xED\x9F\xBF"));      // U+D7FF, just below the surrogates
    EXPECT_TRUE(ok("\xEE\x80\x80"));      // U+E000, just above them
    EXPECT_TRUE(ok("\xF4\x8F\xBF\xBF"));  // U+10FFFF, the last code point
    EXPECT_TRUE(ok(std::string("a\0b", 3)));
    // Overlong forms.
    EXPECT_FALSE(ok("\xC0\xAF"));
    EXPECT_FALSE(ok("\xC1\xBF"));
    EXPECT_FALSE(ok("\xE0\x80\xAF"));
    EXPECT_FALSE(ok("\xF0\x8F\xBF\xBF"));
    // Surrogates.
    EXPECT_FALSE(ok("\xED\xA0\x80"));
    EXPECT_FALSE(ok("\xED\xBF\xBF"));
    // Past U+10FFFF and the lead bytes F5...FF.
    EXPECT_FALSE(ok("\xF4\x90\x80\x80"));
    for (int lead = 0xF5; lead <= 0xFF; ++lead)
        EXPECT_FALSE(ok(std::string(1, char(lead)) + "\x80\x80\x80")) << lead;
    // Lone continuation bytes, truncated sequences, a lead where a continuation belongs.
    EXPECT_FALSE(ok("\x80"));
    EXPECT_FALSE(ok("\xE2\x82"));
    EXPECT_FALSE(ok("\xF0\x9F\x98"));
    EXPECT_FALSE(ok("\xE2\x28\xA1"));
}

TEST(StrTest, ResizeImageRedrawsAtTheNewSize) {
    kit::Image source(4, 2);
    source.fill(kit::Color::rgb(255, 0, 0));
    source.setPixel(3, 1, {255, 0, 0, 255});  // blue in the bottom-right corner
    auto sharp = resizeImage(source, false, 8.9, 4.2);
    ASSERT_TRUE(sharp.has_value());
    EXPECT_EQ(sharp->width(), 8);
    EXPECT_EQ(sharp->height(), 4);
    EXPECT_EQ(sharp->pixel(7, 3), (kit::PixelBGRA{255, 0, 0, 255}));
    EXPECT_EQ(sharp->pixel(0, 0), (kit::PixelBGRA{0, 0, 255, 255}));
    EXPECT_TRUE(resizeImage(source, true, 3, 3).has_value());

    EXPECT_FALSE(resizeImage(source, true, 0, 10).has_value());
    EXPECT_FALSE(resizeImage(source, true, std::nan(""), 10).has_value());
    EXPECT_FALSE(resizeImage(source, true, 1e30, 10).has_value());
    EXPECT_FALSE(resizeImage(kit::Image(), true, 10, 10).has_value());
}

TEST(KeyComboTest, NamesAndModifiers) {
    EXPECT_EQ(keyComboDescription(8, {.shift = true, .command = true}), "Ctrl+Shift+C");
    EXPECT_EQ(keyComboDescription(53, {.command = true}), "Ctrl+Escape");
    EXPECT_EQ(keyComboDescription(10, {}), "10");
    EXPECT_EQ(keyComboDescription(18, {.shift = true}), "Shift+1");
    EXPECT_EQ(keyName(39), "\"");
    EXPECT_EQ(keyName(42), "\\");
    EXPECT_EQ(keyName(50), "`");
    EXPECT_EQ(keyName(49), "Spacebar");
    EXPECT_EQ(keyName(117), "Delete");
    EXPECT_EQ(keyName(126), "Up");
    EXPECT_EQ(keyName(-1), "-1");
    int named = 0;
    for (int code = 0; code < 128; ++code) named += keyName(code) != std::to_string(code);
    EXPECT_EQ(named, 101);
}

TEST(RectTest, JsonNeedsAllFourNumbers) {
    Rect r{1.5, -2, 3, 4};
    kit::Json json = r;
    EXPECT_EQ(kit::json::dump(json), R"({"height":4.0,"width":3.0,"x1":1.5,"y1":-2.0})");
    EXPECT_EQ(json.get<Rect>(), r);

    kit::Json extra = kit::json::parse(R"({"x1":1,"y1":2,"width":3,"height":4,"z":9})").value();
    EXPECT_EQ(extra.get<Rect>(), (Rect{1, 2, 3, 4}));

    kit::Json noHeight = kit::json::parse(R"({"x1":1,"y1":2,"width":3})").value();
    EXPECT_FALSE(Rect::fromJson(noHeight));
    EXPECT_THROW(noHeight.get<Rect>(), kit::Json::exception);
    kit::Json textWidth = kit::json::parse(R"({"x1":1,"y1":2,"width":"3","height":4})").value();
    EXPECT_THROW(textWidth.get<Rect>(), kit::Json::exception);
    kit::Json boolWidth = kit::json::parse(R"({"x1":1,"y1":2,"width":true,"height":4})").value();
    EXPECT_FALSE(Rect::fromJson(boolWidth));
}
