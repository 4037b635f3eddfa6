#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>

namespace kestrel {

// How many downloads each box of one lot had, from the started records of a
// log read piece by piece: a station's log grows to many thousands of records,
// and a download's start must not read it all again.
class AttemptIndex {
public:
    explicit AttemptIndex(const std::string& lot);

    // The log's next bytes, from where the last piece ended.
    void Read(std::string_view piece);
    // One more than the started records of `box` read so far, counted as one more.
    int Next(const std::string& box);
    // From now on also notes the labels of boxes that passed, in any lot (the
    // pieces already read are not read again: call it before the first).
    void TrackLabels() { trackLabels_ = true; }
    bool LabelPassed(const std::string& label) const;
    // A box with this label passed, in a record this process wrote.
    void NotePassed(const std::string& label);

private:
    // Counts the started records among the whole records of `text`.
    void Search(std::string_view text);
    void Count(std::string_view record);

    std::string lot_;      // as the log writes it
    std::string partial_;  // the start of a record whose end has not been read yet
    std::map<std::string, int, std::less<>> downloads_;
    bool trackLabels_ = false;
    std::set<std::string, std::less<>> passedLabels_;  // as the log writes them
};

}  // namespace kestrel
