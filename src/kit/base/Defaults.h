#pragma once
// The user-defaults database: typed values under text keys, kept in memory
// and written to one JSON file (mode 0600) atomically, a short while after the
// last change and at destruction (flush at quit). A corrupt file is moved
// aside and the store starts empty; takeResetNotice tells of it once.
//
// Thread-safe. Its mutex is the innermost lock of the program: nothing is
// called out of the store while it is held, and the background writer never
// calls back into other code.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Json.h"

namespace kit {

class Defaults {
public:
    // The application's store: defaults.json in files::configDir().
    static Defaults& standard();

    // A store over `path`; an empty path keeps it in memory only.
    // `debounceSeconds` is the wait after a change before the file is written.
    explicit Defaults(std::string path, double debounceSeconds = 0.5);
    ~Defaults();  // writes pending changes
    Defaults(const Defaults&) = delete;
    Defaults& operator=(const Defaults&) = delete;

    // Reads. Data values (set with setData) read back as Json binary; in the
    // file they are objects {"$data": "<base64>"}.
    std::optional<Json> object(std::string_view key) const;
    bool contains(std::string_view key) const;
    // Text, or a number or Boolean written as text ("42", "2.5", "1").
    std::optional<std::string> string(std::string_view key) const;
    // Integer; a floating number truncated; numeric text; true = 1. 0 otherwise.
    int64_t integer(std::string_view key) const;
    // Number, numeric text or Boolean; 0 otherwise.
    double doubleValue(std::string_view key) const;
    // Boolean; a number is true when not 0; "true"/"yes"/a non-zero integer
    // text is true. False otherwise.
    bool boolean(std::string_view key) const;
    std::optional<std::vector<uint8_t>> data(std::string_view key) const;
    std::optional<Json::array_t> array(std::string_view key) const;
    std::optional<Json::object_t> dictionary(std::string_view key) const;
    std::vector<std::string> keys() const;

    // Writes. Setting null removes the key.
    void set(std::string_view key, Json value);
    void setData(std::string_view key, std::vector<uint8_t> bytes);
    void remove(std::string_view key);
    void removeAll();

    // Writes pending changes now; false when the file could not be written
    // (the changes stay pending and are tried again on the next change).
    bool flush();
    // Re-reads the file, keeping this process's unwritten changes on top:
    // values written by another process win for the keys we did not change.
    void synchronize();
    const std::string& path() const;

    // The store started empty because its file could not be read.
    struct ResetNotice {
        std::optional<std::string> keptAt;  // where the old file was moved; none when it could not be
    };
    // Tells once (later calls give none) that the file was unreadable at start.
    std::optional<ResetNotice> takeResetNotice();

private:
    struct State;
    void stopWriter();

    std::shared_ptr<State> state_;
};

}  // namespace kit
