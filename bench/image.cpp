// Image hot paths: cropping and scaling a 5K capture, and rendering an
// annotated 5K canvas (an image layer with 200 shape and text layers) into an
// image, as the export does.
#include "kit/base/Image.h"

#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "kit/base/Blur.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"

namespace {

constexpr int W = 5120, H = 2880;

const kit::Image& capture() {
    static kit::Image img = [] {
        kit::Image i(W, H, 2.0);
        uint8_t* p = i.mutableBits();
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x, p += 4) {
                p[0] = uint8_t(x);
                p[1] = uint8_t(y);
                p[2] = uint8_t(x ^ y);
                p[3] = 255;
            }
        return i;
    }();
    return img;
}

void BM_Crop(benchmark::State& state) {
    const kit::Image& img = capture();
    for (auto _ : state) {
        kit::Image c = img.cropped(640, 360, 3840, 2160);
        benchmark::DoNotOptimize(c.bits());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(3840) * 2160 * 4);
}
BENCHMARK(BM_Crop)->Unit(benchmark::kMillisecond);

void BM_ScaleHalf(benchmark::State& state) {
    const kit::Image& img = capture();
    auto q = kit::ScaleQuality(state.range(0));
    for (auto _ : state) {
        kit::Image s = img.scaled(W / 2, H / 2, q);
        benchmark::DoNotOptimize(s.bits());
    }
    state.SetLabel(q == kit::ScaleQuality::None     ? "none"
                   : q == kit::ScaleQuality::Medium ? "medium"
                                                    : "high");
}
BENCHMARK(BM_ScaleHalf)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_ScaleThumbnail(benchmark::State& state) {
    const kit::Image& img = capture();
    for (auto _ : state) {
        kit::Image s = img.scaled(480, 270, kit::ScaleQuality::High);
        benchmark::DoNotOptimize(s.bits());
    }
}
BENCHMARK(BM_ScaleThumbnail)->Unit(benchmark::kMillisecond);

void BM_Blur(benchmark::State& state) {
    const kit::Image& img = capture();
    for (auto _ : state) {
        kit::Image b = kit::gaussianBlur(img, 10);
        benchmark::DoNotOptimize(b.bits());
    }
}
BENCHMARK(BM_Blur)->Unit(benchmark::kMillisecond);

// The canvas: the capture as contents of the bottom layer, then 200
// annotations alternating between stroked/filled shapes and text labels.
kit::LayerPtr annotatedCanvas() {
    auto root = kit::Layer::make();
    root->setBounds({0, 0, W, H});
    auto image = kit::Layer::make();
    image->setFrame({0, 0, W, H});
    image->setContents(capture());
    image->setZPosition(-30);
    root->addSublayer(image);
    for (int i = 0; i < 200; ++i) {
        double x = (i * 397) % (W - 300), y = (i * 211) % (H - 200);
        if (i % 2 == 0) {
            auto s = kit::ShapeLayer::make();
            s->setFrame({x, y, 260, 160});
            kit::Path p;
            if (i % 4 == 0) {
                p.addRoundedRect({4, 4, 252, 152}, 12, 12);
                s->setFillColor(std::nullopt);
            } else {
                p.moveTo({10, 10});
                p.cubicTo({80, 150}, {180, -40}, {250, 150});
                s->setFillColor(std::nullopt);
                s->setLineCap(kit::LineCap::Round);
            }
            s->setPath(p);
            s->setStrokeColor(kit::Color::rgb(230, 40, 60));
            s->setLineWidth(6);
            if (i % 8 == 2) s->setShadowOpacity(0.3);
            root->addSublayer(s);
        } else {
            auto t = kit::TextLayer::make();
            t->setString("Annotation " + std::to_string(i));
            t->setFont(kit::Font::system(28, kit::FontWeight::Medium));
            t->setForegroundColor(kit::Color::white(1));
            t->setFrame({x, y, 280, 40});
            t->setBackgroundColor(kit::Color::rgb(20, 20, 20, 0.6));
            t->setCornerRadius(6);
            root->addSublayer(t);
        }
    }
    return root;
}

void BM_RenderAnnotatedCanvas(benchmark::State& state) {
    auto root = annotatedCanvas();
    for (auto _ : state) {
        kit::Image out = kit::renderToImage(*root, 1.0);
        benchmark::DoNotOptimize(out.bits());
    }
}
BENCHMARK(BM_RenderAnnotatedCanvas)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv);
}
