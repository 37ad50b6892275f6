// kadrix-dragsource X Y FILE…: a small window at (X, Y) that drags the given
// files (as file URLs, the way a file manager offers them) when the mouse is
// pressed on it and moved. Prints "drag copy" or "drag none" with what the
// drop target answered, so a test can tell a refused drop from a taken one.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

class Source : public QWidget {
public:
    explicit Source(QList<QUrl> urls) : urls_(std::move(urls)) {
        setWindowTitle("kadrix-dragsource");
        resize(160, 120);
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor("#208040"));
        setPalette(p);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override { pressed_ = e->button() == Qt::LeftButton; }
    void mouseMoveEvent(QMouseEvent*) override {
        if (!pressed_) return;
        pressed_ = false;
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls(urls_);
        drag->setMimeData(data);
        const Qt::DropAction answer = drag->exec(Qt::CopyAction);
        std::printf("drag %s\n", answer == Qt::CopyAction ? "copy" : "none");
        std::fflush(stdout);
    }

private:
    QList<QUrl> urls_;
    bool pressed_ = false;
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 4) return 2;
    QList<QUrl> urls;
    for (int i = 3; i < argc; ++i) urls.push_back(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i])));
    Source s(urls);
    s.move(std::atoi(argv[1]), std::atoi(argv[2]));
    s.show();
    return app.exec();
}
