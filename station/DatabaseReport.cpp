#include "station/DatabaseReport.h"

#include <algorithm>
#include <map>

namespace kestrel {

std::string StoredRecordsAsLog(const std::vector<StoredRecord>& records, bool complete, ChainCheck& check) {
    std::vector<std::vector<std::size_t>> chains;
    std::map<std::string, std::size_t> ends;  // a chain's last hash: the chain
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::size_t chain = chains.size();
        if (const auto end = ends.find(records[i].prev); end != ends.end() && records[i].prev != kChainStart) {
            chain = end->second;
            ends.erase(end);
        } else {
            chains.emplace_back();
        }
        chains[chain].push_back(i);
        ends[records[i].sha256] = chain;
    }
    check = {};
    check.records = records.size();
    std::string log;
    std::size_t record = 0, line = 1;
    for (const auto& chain : chains) {
        std::string text;
        for (const std::size_t i : chain) {
            text += records[i].text;
        }
        const ChainCheck own = complete ? VerifyChain(text) : ChainCheck{};
        std::size_t at = 0;
        for (std::size_t k = 0; k < chain.size(); ++k) {
            const std::string& one = records[chain[k]].text;
            const bool broken = complete ? own.broken == k + 1 : !RecordHashHolds(one);
            if (broken && check.broken == 0) {
                check.broken = record + k + 1;
                check.line = line + static_cast<std::size_t>(std::count(text.begin(), text.begin() + at, '\n'));
                check.reason = complete ? own.reason : "its text was changed";
            }
            at += one.size();
        }
        record += chain.size();
        line += static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        log += text;
    }
    return log;
}

}  // namespace kestrel
