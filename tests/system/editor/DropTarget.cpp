// A window that takes file drops: prints "entered" when a drag of files
// first comes over it, and "dropped <path>" for each file dropped.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>
#include <cstdio>

class Target : public QWidget {
public:
    Target() {
        setAcceptDrops(true);
        setWindowTitle("kadrix-droptarget");
        resize(300, 240);
    }
    void dragEnterEvent(QDragEnterEvent* e) override {
        if (!e->mimeData()->hasUrls()) return;
        e->acceptProposedAction();
        std::printf("entered\n");
        std::fflush(stdout);
    }
    void dragMoveEvent(QDragMoveEvent* e) override { e->acceptProposedAction(); }
    void dropEvent(QDropEvent* e) override {
        for (const QUrl& u : e->mimeData()->urls()) std::printf("dropped %s\n", qPrintable(u.toLocalFile()));
        std::fflush(stdout);
        e->acceptProposedAction();
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Target t;
    t.move(argc > 2 ? atoi(argv[1]) : 0, argc > 2 ? atoi(argv[2]) : 0);
    t.show();
    return app.exec();
}
