#pragma once

#include <string>

namespace kestrel::emulator {

// A symbolic link to the box's line at a path the tool keeps using while each
// hang-up makes a new line. It is made only where nothing is, follows the line
// in one step, and goes at the end only while it is still this link's own:
// another box's link or a user's file put there is never touched.
class StableLink {
public:
    explicit StableLink(std::string path) : path_(std::move(path)) {}
    ~StableLink();
    StableLink(const StableLink&) = delete;
    StableLink& operator=(const StableLink&) = delete;

    // Points the link at `device`; with an empty path there is no link and
    // nothing to do. False with errno set, EEXIST when the path is not (or no
    // longer) this link's own.
    bool PointAt(const std::string& device);

private:
    std::string path_;
    std::string linkedTo_;  // where the link made here points; empty: none made
};

}  // namespace kestrel::emulator
