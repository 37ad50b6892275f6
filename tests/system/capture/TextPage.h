#pragma once
// A page of text lines that look alike, rendered the same way by the test
// client and by the test that checks what was captured.
#include <QFont>
#include <QImage>
#include <QPainter>

inline QImage textPage(int w, int h) {
    QImage q(w, h, QImage::Format_ARGB32_Premultiplied);
    q.fill(Qt::white);
    QPainter p(&q);
    QFont f("DejaVu Sans");
    f.setPixelSize(14);
    f.setHintingPreference(QFont::PreferFullHinting);
    p.setFont(f);
    p.setPen(Qt::black);
    for (int i = 0, y = 22; y < h; ++i, y += 22)
        p.drawText(16, y,
                   QString("%1. The quick brown fox jumps over the lazy dog; item %2 of the list.")
                       .arg(i + 1)
                       .arg((i * 7) % 13));
    return q;
}
