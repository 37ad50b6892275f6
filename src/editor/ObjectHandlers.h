#pragma once
// The editor's annotation-object manager as the objects see it: the parent of
// every object, holding the list in z-order, the active and selected indexes,
// the armed tool, the spotlight curtain and the running counter number. The
// editor implements the operations; objects only call them through this class.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/ShapeLayer.h"

class ProtoObject;

class ObjectHandlers {
public:
    virtual ~ObjectHandlers() = default;

    std::vector<std::shared_ptr<ProtoObject>> objects;  // z-order
    std::optional<int> active;                          // index of the active object
    std::optional<int> selectedIndex;                   // object whose tool settings show
    std::string createOnClick;                          // tool armed for creation, "" for none
    std::shared_ptr<kit::ShapeLayer> lcurtain = kit::ShapeLayer::make();  // darkens outside spotlights
    int counterCount = 0;                                                 // number of the last counter placed

    // Ends editing of the active object and drops the empty ones.
    virtual void deactivate() = 0;
    // Class name of the active object without "Obj" ("Arrow"), "" when none.
    virtual std::string activeType() const = 0;
    // counterCount = the largest number any counter still shows.
    virtual void renumberCounters() = 0;
};
