// The editor key table against recording doubles: which rows act, in which
// order, and where a key stops.
#include "CropFixture.h"
#include "editor/CropTool.h"
#include "editor/EditorKeys.h"
#include "editor/Handlers.h"
#include "editor/Ruler.h"
#include "kit/base/Dispatch.h"
#include "services/Alerts.h"

namespace editor::test {
namespace {

namespace K = kit::KeyCode;

struct RecordingObjects : ObjectInput {
    std::optional<int> activeIndex;
    std::string armed;
    std::optional<int> active() const override { return activeIndex; }
    std::string createOnClick() const override { return armed; }
};

struct RecordingCrop : CropTool {
    std::vector<int>* log = nullptr;
    void keyDown(int code, editor::KeyEvt::Modifiers, const std::string&) override { log->push_back(code); }
};

struct RecordingRuler : Ruler {
    std::vector<bool>* enabled = nullptr;
    void keyDown(const kit::Event*, int, editor::KeyEvt::Modifiers, bool on) override {
        enabled->push_back(on);
    }
};

class EditorKeysTest : public CropFixture {
protected:
    RecordingObjects objects;
    RecordingCrop crop;
    RecordingRuler ruler;
    EditorKeys keys{&crop, &ruler};
    std::vector<std::string> links;
    std::vector<int> cropKeys;
    std::vector<bool> rulerCalls;
    bool editing = false, helperVisible = false;

    void SetUp() override {
        CropFixture::SetUp();
        crop.log = &cropKeys;
        ruler.enabled = &rulerCalls;
        Handlers::shared().objects = &objects;
        Handlers::shared().pressedMouseButtons = {};
        Handlers::shared().mouseDX = Handlers::shared().mouseDY = 50;  // over the image
        Handlers::shared().mmode = "default";
        services::Settings::shared().storeBool("copyOnEsc", true);
        services::Settings::shared().storeBool("saveOnEsc", false);
        EditorKeys::Links& l = keys.links;
        l.isEditing = [this] { return editing; };
        l.objectKeyDown = [this](const kit::Event*, const editor::KeyEvt& k) {
            links.push_back("objectKeyDown:" + std::to_string(k.code));
        };
        l.deactivate = [this] { links.push_back("deactivate"); };
        l.addConceal = [this](const services::Rect& r) {
            links.push_back("addConceal:" + std::to_string(int(r.width)));
        };
        l.anyHelperVisible = [this] { return helperVisible; };
        l.hideHelpers = [this] {
            bool was = helperVisible;
            helperVisible = false;
            return was;
        };
        l.redo = [this] { links.push_back("redo"); };
    }
    void TearDown() override {
        Handlers::shared().objects = nullptr;
        CropFixture::TearDown();
    }
    void press(int code, editor::KeyEvt::Modifiers m = {}, std::string chars = "") {
        editor::KeyEvt k;
        k.code = code;
        k.modifiers = m;
        k.chars = chars;
        kit::Event e = event(0);
        e.type = kit::EventType::KeyDown;
        e.keyCode = uint16_t(code);
        e.charactersIgnoringModifiers = chars;
        keys.keyDown(k, &e);
    }
    void cropOn() {
        crop.on_ = true;
        crop.selection_ = {10, 10, 40, 30};
    }
    bool finished() const { return !core.calls.empty() && core.calls.back() == "updateStatus"; }
};

TEST_F(EditorKeysTest, TextEditingTakesEveryKey) {
    objects.activeIndex = 0;
    editing = true;
    press(K::Escape);
    press(K::C, {.command = true});
    press(K::A);
    EXPECT_EQ(links, (std::vector<std::string>{"objectKeyDown:53", "objectKeyDown:8", "objectKeyDown:0"}));
    EXPECT_TRUE(core.calls.empty()) << "no copy, no tool, no status refresh";
}

TEST_F(EditorKeysTest, EscCancelsAnArmedToolThenHidesABubbleThenCopiesAndHides) {
    objects.armed = "ObjArrow";
    press(K::Escape);
    EXPECT_EQ(links, std::vector<std::string>{"objectKeyDown:53"});
    objects.armed.clear();
    helperVisible = true;
    press(K::Escape);
    EXPECT_TRUE(core.calls.empty());
    press(K::Escape);
    EXPECT_TRUE(called("copyImage"));
    EXPECT_FALSE(called("hideMainWindow"));
    EXPECT_TRUE(finished());
    core.calls.clear();
    services::Settings::shared().storeBool("copyOnEsc", false);
    press(K::Escape);
    EXPECT_TRUE(called("hideMainWindow"));
    EXPECT_FALSE(called("copyImage"));
}

TEST_F(EditorKeysTest, EscCopiesWhenTheSettingWasNeverMade) {
    // A fresh install (or reset settings) has no "copyOnEsc" at all: the
    // fixture's stored value would hide what its absence does.
    services::Settings& s = services::Settings::shared();
    s.resetSettings();
    s.storeBool("allowTelemetry", false);
    s.storeBool("realPixels", false);
    ASSERT_FALSE(s.storage().contains("copyOnEsc"));
    press(K::Escape);
    EXPECT_TRUE(called("copyImage"));
    EXPECT_FALSE(called("hideMainWindow"));
}

TEST_F(EditorKeysTest, EscWithAnActiveObjectGoesToTheObjectsOnly) {
    objects.activeIndex = 2;
    Handlers::shared().mmode = "objectHandlers";
    press(K::Escape);
    EXPECT_EQ(Handlers::shared().mmode, "default");
    EXPECT_FALSE(called("copyImage"));
    EXPECT_EQ(links, std::vector<std::string>{"objectKeyDown:53"});
}

TEST_F(EditorKeysTest, TabCopiesTheColourUnlessABubbleOrAnObjectHasIt) {
    helperVisible = true;
    press(K::Tab);
    EXPECT_TRUE(core.calls.empty());
    helperVisible = false;
    press(K::Tab);
    EXPECT_TRUE(called("copyText:#ABCDEF|#ABCDEF"));
    core.calls.clear();
    objects.activeIndex = 0;
    press(K::Tab);
    EXPECT_FALSE(called("copyText:#ABCDEF|#ABCDEF"));
    EXPECT_EQ(links, std::vector<std::string>{"objectKeyDown:48"});
}

TEST_F(EditorKeysTest, ColourKeysCopyTheDarkestAroundThePointerAndNothingBesideTheImage) {
    kit::Image img = solidImage(400, 300, 200, 200, 200);
    paintUp(img, 55, 45, 1, 1, 0x10, 0x20, 0x30);
    useImage(img);
    press(K::I, {.shift = true});
    EXPECT_TRUE(called("copyText:#102030|Darkest color: #102030"));
    core.calls.clear();
    Handlers::shared().mouseDX = 401;  // right of the image
    press(K::I);
    press(K::I, {.shift = true});
    press(K::Tab);
    EXPECT_EQ(std::count_if(core.calls.begin(), core.calls.end(),
                            [](const std::string& c) { return c.starts_with("copyText"); }),
              0);
}

TEST_F(EditorKeysTest, ToolLettersSelectToolsOnlyWithTheButtonUp) {
    press(K::R);
    EXPECT_TRUE(called("selectTool:ObjRectangle|hotkey:bypass:R")) << core.calls.front();
    core.calls.clear();
    Handlers::shared().pressedMouseButtons[0] = true;
    press(K::T);
    press(K::V);
    EXPECT_FALSE(called("selectTool:ObjText|hotkey:bypass:T"));
    EXPECT_TRUE(links.empty());
    Handlers::shared().pressedMouseButtons[0] = false;
    press(K::V);
    EXPECT_EQ(links, std::vector<std::string>{"deactivate"});
    EXPECT_TRUE(called("refreshCropButton"));
    press(K::K, {}, "k");
    EXPECT_TRUE(called("checkBackdropAllowed"));
    core.calls.clear();
    press(K::A, {.shift = true});
    EXPECT_FALSE(called("selectTool:ObjArrow|hotkey:bypass:A")) << "not with Shift";
}

TEST_F(EditorKeysTest, SelectionImprintsRAndGoOnBAndDeleteStop) {
    cropOn();
    press(K::R);
    EXPECT_TRUE(called("selectRectangleTool"));
    EXPECT_FALSE(called("selectTool:ObjRectangle|hotkey:bypass:R"));
    EXPECT_EQ(rulerCalls.size(), 1u) << "R goes on";
    cropKeys.clear();  // (the core's command would have ended the selection)
    press(K::B);
    EXPECT_EQ(links, std::vector<std::string>{"addConceal:40"});
    EXPECT_FALSE(crop.on());
    EXPECT_EQ(rulerCalls.size(), 1u) << "B stops";
    cropOn();
    press(K::Delete);
    EXPECT_TRUE(called("selectConcealTool"));
    EXPECT_EQ(rulerCalls.size(), 1u);
    EXPECT_TRUE(cropKeys.empty());
}

TEST_F(EditorKeysTest, SelectionKeysReachTheCropToolAndTheRulerIsOffMeanwhile) {
    cropOn();
    press(K::LeftArrow);
    EXPECT_EQ(cropKeys, std::vector<int>{K::LeftArrow});
    EXPECT_EQ(rulerCalls, std::vector<bool>{false});
    crop.on_ = false;
    press(K::LeftArrow);
    EXPECT_EQ(rulerCalls, (std::vector<bool>{false, true}));
    EXPECT_EQ(cropKeys.size(), 1u);
}

TEST_F(EditorKeysTest, TextRecognitionOfAWideImageAsksForASelection) {
    std::vector<std::string> alerts;
    services::setAlertPresenter([&](const services::AlertRequest& request) {
        alerts.push_back(request.title);
        return services::AlertAnswer{0, ""};
    });
    viewport(1, 2);
    useImage(solidImage(2400, 800, 255, 255, 255));
    press(K::O, {.command = true});
    kit::runMainLoopUntil([&] { return !alerts.empty(); }, 5);
    EXPECT_EQ(alerts, std::vector<std::string>{"Select area first"});
    EXPECT_FALSE(called("ocrSelection"));
    useImage(solidImage(1800, 800, 255, 255, 255));
    press(K::O, {.command = true});
    EXPECT_TRUE(called("ocrSelection"));
    services::setAlertPresenter({});
}

TEST_F(EditorKeysTest, RedoNeedsShiftAndFindsTheTypedZ) {
    press(K::Y, {.shift = true, .command = true}, "z");  // a layout with "z" where Y sits
    EXPECT_EQ(links, std::vector<std::string>{"redo"});
    press(K::Z, {.command = true});
    EXPECT_EQ(links.size(), 1u);
}

TEST_F(EditorKeysTest, F2UploadsCtrlPPinsAndPAloneTogglesRealPixels) {
    press(K::F2);
    EXPECT_TRUE(called("uploadImage"));
    core.calls.clear();
    press(K::P, {.command = true});
    EXPECT_TRUE(called("pinImage"));
    EXPECT_FALSE(services::Settings::shared().realPixels()) << "Ctrl+P pins only";
    press(K::P);
    EXPECT_TRUE(called("realPixels:on"));
    EXPECT_EQ(std::count(core.calls.begin(), core.calls.end(), "pinImage"), 1);
}

TEST_F(EditorKeysTest, ResetKeyIgnoresOptionAndKeepsTheIdentity) {
    const std::string uid = services::Settings::shared().uid();
    services::Settings::shared().storeString("colorFormat", "RGBA");
    press(K::L, {.shift = true, .command = true, .option = true, .control = true});
    EXPECT_EQ(services::Settings::shared().colorFormat(), "HEX");
    EXPECT_EQ(services::Settings::shared().uid(), uid);
}

}  // namespace
}  // namespace editor::test
