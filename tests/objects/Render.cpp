#include "Render.h"

#include <filesystem>

#include "kit/base/Files.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/image/ImageIO.h"

namespace objects {

kit::Image renderCanvas(SpyHost& h, int width, int height, double dpr, const kit::LayerPtr& background) {
    for (auto& o : h.objects) o->draw();
    auto root = kit::Layer::make();
    root->setBounds({0, 0, width / dpr, height / dpr});
    auto images = kit::Layer::make();
    images->setAnchorPoint({0, 0});
    images->setBounds({0, 0, double(width), double(height)});
    images->setPosition({0, 0});
    images->setTransform(kit::AffineTransform::scale(1 / dpr, 1 / dpr));
    if (background) images->addSublayer(background);
    h.drawing->setAnchorPoint({0, 0});
    h.drawing->setBounds({0, 0, double(width), double(height)});
    h.drawing->setPosition({0, 0});
    images->addSublayer(h.drawing);
    root->addSublayer(images);
    h.control->setAnchorPoint({0, 0});
    h.control->setBounds({0, 0, width / dpr, height / dpr});
    h.control->setPosition({0, 0});
    root->addSublayer(h.control);
    kit::Image img = kit::renderToImage(*root, dpr);
    h.drawing->removeFromSuperlayer();
    h.control->removeFromSuperlayer();
    return img;
}

kit::Color probe(const kit::Image& img, double x, double y) {
    return img.colorAt(int(x), img.height() - 1 - int(y));
}

void layoutCurtain(SpyHost& h, int width, int height) {
    kit::Path cut;
    bool any = false;
    for (auto& o : h.objects) {
        if (!o->wantsSpotlight) continue;
        if (auto p = o->outlinePath()) {
            cut = any ? cut.united(*p) : *p;
            any = true;
        }
    }
    h.lcurtain->setHidden(!any);
    kit::Path canvas = kit::Path::roundedRect({0, 0, double(width), double(height)}, 4, 4);
    h.lcurtain->setPath(any ? canvas.subtracted(cut) : canvas);
    h.drawing->addSublayer(h.lcurtain);
}

std::string contactSheetPath(const std::string& name) {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    auto dir = (ec ? std::filesystem::current_path() : exe.parent_path().parent_path()) / "contact-sheets";
    std::filesystem::create_directories(dir, ec);
    return (dir / name).string();
}

bool writePNG(const kit::Image& img, const std::string& path) {
    auto bytes = kit::ImageIO::encodePNG(img);
    if (bytes.empty()) return false;
    return kit::files::writeAtomic(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace objects
