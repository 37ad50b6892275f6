#pragma once
// One entry of the screenshot library: a saved image in the library folder
// and its record of texts (keys as the record store lists them). A typed view
// over the record with caches of what it derives; entries are shared between
// the library model and its workers, which change them under the model's
// record lock.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Color.h"

namespace library {

// What the gallery shows of an entry: file, pixel size and base colour.
struct LibObject {
    std::string path;
    int64_t width = 0, height = 0;
    kit::Color baseColor;
};

// The folder the library model opened; entries place their files in it.
void setLibFolderText(const std::string& folder);
std::string libFolderText();

// Whether a record's "filename" names a file inside the folder: not empty,
// not "." or "..", no "/" and no NUL. Records can come from plain lines that
// anyone could have written.
bool isSafeFileName(const std::string& name);

class GrabData {
public:
    explicit GrabData(std::map<std::string, std::string> record) : content(std::move(record)) {}
    virtual ~GrabData() = default;

    std::map<std::string, std::string> content;
    bool deleteMePlease = false;
    // The record's stored line ("\n" included) as last read or sealed, kept
    // while the record stays as it was: a rewrite of the database uses it
    // instead of sealing the record again. Every change made through this
    // class forgets it; a change made to `content` directly must call
    // invalidateCaches().
    std::shared_ptr<const std::string> sealedLine;

    // The value under the key as a base-10 integer: an optional sign and
    // digits only, within 64 bits; anything else (an absent key too) is 0.
    virtual int64_t intValue(const std::string& key) const;
    virtual std::optional<std::string> fileURL();
    virtual std::vector<std::string> colors() const;
    virtual std::optional<LibObject> libObject();
    virtual void refreshLibObject();

    int64_t ts();
    void setTs(int64_t value);
    int64_t gone();
    void setGone(int64_t value);
    void setColors(const std::vector<std::string>& colors);
    // The recognised text case-folded, kept for searching.
    const std::string& foldedOcr();
    // What the filter facets count of the entry, kept so that counting reads no record.
    struct FacetKeys {
        std::string month;                 // the local month of `ts`: "2024-01"
        std::string objects;               // each letter once
        std::string mode, app;             // "" when absent
        std::vector<std::string> domains;  // each once; one "" when there are none
    };
    const FacetKeys& facetKeys();
    // Forgets every derived value and the stored line (after the record was
    // merged with another).
    void invalidateCaches();

private:
    std::optional<LibObject> buildLibObject();

    std::optional<std::string> fileURL_;
    std::optional<int64_t> ts_, gone_;
    std::optional<LibObject> libObject_;
    std::optional<std::string> foldedOcr_;
    std::optional<FacetKeys> facetKeys_;
};

}  // namespace library
