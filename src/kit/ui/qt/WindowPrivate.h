#pragma once
// kit-internal: the top-level QWidget behind every kit::Window.
#include <QWidget>

#include "kit/ui/Window.h"

namespace kit::qt {

class WindowWidget : public QWidget {
public:
    explicit WindowWidget(Window* window);
    Window* window = nullptr;
    bool closingByProgram = false;
    // Drops the native window so the next show makes a new one (a new visual).
    void dropNativeWindow() { destroy(); }

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
};

QWidget* windowWidget(const Window& window);
// The kit window a top-level widget belongs to (nullptr for others).
Window* windowOf(QWidget* widget);

}  // namespace kit::qt
