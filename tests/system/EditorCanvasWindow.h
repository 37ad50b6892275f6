#pragma once
// A window whose content is the editor's canvas view, for system tests that
// drive the canvas on a real display. Keys no view takes reach the window,
// which hands them to the dispatcher as the editor window does.
#include <memory>
#include <string>

#include "editor/CanvasLayers.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "editor/ShotView.h"
#include "kit/ui/Window.h"
#include "support/EventLoopWait.h"

namespace systest {

class EditorCanvasWindow : public kit::Window {
public:
    using kit::Window::Window;
    void keyDown(const kit::Event& e) override {
        editor::Handlers::shared().keyDown(editor::keyEvtFromEvent(e), &e);
    }
    void keyUp(const kit::Event& e) override {
        editor::Handlers::shared().keyUp(editor::keyEvtFromEvent(e), &e);
    }

    // Opens a titled window of that frame (points) with the canvas as its
    // content, waits until it has the keyboard, and shows `image` as the
    // uncropped screenshot at the window's pixel ratio.
    static EditorCanvasWindow* open(const kit::Rect& frame, const std::string& title, const kit::Image& image,
                                    std::shared_ptr<editor::ShotView>& view) {
        auto* w = new EditorCanvasWindow(frame, kit::WindowStyle::Titled);
        w->setTitle(title);
        view = editor::ShotView::make({0, 0, frame.width(), frame.height()});
        w->setContentView(view);
        w->makeKeyAndOrderFront();
        testsupport::waitFor([w] { return w->isVisible() && w->isKeyWindow(); }, 5000);
        testsupport::spin(300);
        using namespace editor;  // (the viewport moves into the namespace)
        auto& f = editor::Framer::shared();
        f._dpr.set(w->backingScaleFactor());
        f.original = f.crop = f.source = {0, 0, double(image.width()), double(image.height())};
        editor::setCanvasImage(image);
        return w;
    }
};

}  // namespace systest
