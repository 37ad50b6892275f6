#include "services/KeyCombo.h"

#include <unordered_map>

namespace services {

std::string keyName(int keyCode) {
    // Key positions of a US layout. The modifier keys are named as the Linux
    // user knows them: Command is Ctrl, Option is Alt, Control is Super.
    static const std::unordered_map<int, const char*> names = {
        {0, "A"},         {1, "S"},         {2, "D"},
        {3, "F"},         {4, "H"},         {5, "G"},
        {6, "Z"},         {7, "X"},         {8, "C"},
        {9, "V"},         {11, "B"},        {12, "Q"},
        {13, "W"},        {14, "E"},        {15, "R"},
        {16, "Y"},        {17, "T"},        {18, "1"},
        {19, "2"},        {20, "3"},        {21, "4"},
        {22, "6"},        {23, "5"},        {24, "+"},
        {25, "9"},        {26, "7"},        {27, "-"},
        {28, "8"},        {29, "0"},        {30, "]"},
        {31, "O"},        {32, "U"},        {33, "["},
        {34, "I"},        {35, "P"},        {36, "Enter"},
        {37, "L"},        {38, "J"},        {39, "\""},
        {40, "K"},        {41, ":"},        {42, "\\"},
        {43, ","},        {44, "/"},        {45, "N"},
        {46, "M"},        {47, "."},        {48, "Tab"},
        {49, "Spacebar"}, {50, "`"},        {51, "Backspace"},
        {53, "Escape"},   {54, "Ctrl"},     {55, "Ctrl"},
        {56, "Shift"},    {57, "CapsLock"}, {58, "Alt"},
        {59, "Super"},    {61, "Alt"},      {63, "Fn"},
        {65, "Num."},     {67, "Num*"},     {69, "Num+"},
        {71, "Clear"},    {75, "Num/"},     {76, "NumEnter"},
        {78, "Num-"},     {81, "NumEqual"}, {82, "Num0"},
        {83, "Num1"},     {84, "Num2"},     {85, "Num3"},
        {86, "Num4"},     {87, "Num5"},     {88, "Num6"},
        {89, "Num7"},     {91, "Num8"},     {92, "Num9"},
        {96, "F5"},       {97, "F6"},       {98, "F7"},
        {99, "F3"},       {100, "F8"},      {101, "F9"},
        {103, "F11"},     {109, "F10"},     {110, "WinApplication"},
        {111, "F12"},     {114, "Help"},    {115, "Home"},
        {116, "PageUp"},  {117, "Delete"},  {118, "F4"},
        {119, "End"},     {120, "F2"},      {121, "PageDown"},
        {122, "F1"},      {123, "Left"},    {124, "Right"},
        {125, "Down"},    {126, "Up"},
    };
    auto it = names.find(keyCode);
    return it != names.end() ? it->second : std::to_string(keyCode);
}

std::string keyComboDescription(int keyCode, KeyComboModifiers modifiers) {
    std::string text = keyName(keyCode);
    if (modifiers.shift) text = "Shift+" + text;
    if (modifiers.command) text = "Ctrl+" + text;
    return text;
}

}  // namespace services
