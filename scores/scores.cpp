// The score list and its globals, the stable merge sort that keeps the list
// newest first, and the mapping of typed characters into names.
#include "scores/scores.h"

#include <iterator>
#include <string_view>
#include <utility>

namespace scores {

std::function<void(const Scores&)> ShareRunHook;

namespace {

std::function<void()> g_pendingRun;  // stores the finished run; empty when none waits

// Base letters of U+0100..U+017F (Latin Extended-A), in code order.
constexpr std::string_view kLatinExtendedA =
    "AaAaAaCcCcCcCcDd"
    "DdEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIi"
    "IiIiJjKkkLlLlLlL"
    "lLlNnNnNnnNnOoOo"
    "OoOoRrRrRrSsSsSs"
    "SsTtTtTtUuUuUuUu"
    "UuUuWwYyYZzZzZzs";

// Merges two runs sorted ascending by Compare; on a tie the left run goes
// first, which is what keeps the sort stable.
void MergeInto(std::list<Scores>& left, std::list<Scores>& right) {
    auto l = left.begin();
    while (l != left.end() && !right.empty()) {
        if (l->Compare(&right.front()) > 0) {
            left.splice(l, right, right.begin());
        } else {
            ++l;
        }
    }
    left.splice(left.end(), right);
}

}  // namespace

std::list<Scores> ScoreList;
std::string PlayerName = "Player";
std::string AccountName;
std::string AccountPassword;

int Scores::Compare(const Scores* other) const {
    if (other == nullptr) return 1;
    uint64_t diff = static_cast<uint64_t>(other->Timestamp) - static_cast<uint64_t>(Timestamp);
    return static_cast<int32_t>(static_cast<uint32_t>(diff));
}

void SortScores(std::list<Scores>& list) {
    if (list.size() < 2) return;
    std::list<Scores> right;
    right.splice(right.begin(), list, std::next(list.begin(), static_cast<long>(list.size() / 2)),
                 list.end());
    SortScores(list);
    SortScores(right);
    MergeInto(list, right);
}

void SortScoreList() {
    SortScores(ScoreList);
}

void ResetScoreGlobals() {
    ScoreList.clear();
    PlayerName = "Player";
    AccountName.clear();
    AccountPassword.clear();
}

int NameCharFor(uint32_t cp) {
    // Delete and the C1 controls are as invisible as the C0 ones.
    if (cp < 32 || (cp >= 127 && cp <= 159)) return 0;
    if (cp == '|') return static_cast<unsigned char>(kBrokenBar);
    if (cp <= 255) return static_cast<int>(cp);
    if (cp >= 0x100 && cp <= 0x17F) return kLatinExtendedA[cp - 0x100];
    switch (cp) {
        case 0x200B:
        case 0x200C:
        case 0x200D:
        case 0x2060:
        case 0xFEFF:
            return 0;  // zero-width: nothing to see, nothing to store
        case 0x2018:
        case 0x2019:
        case 0x201A:
        case 0x201B:
        case 0x2032:
            return '\'';
        case 0x201C:
        case 0x201D:
        case 0x201E:
        case 0x201F:
        case 0x2033:
            return '"';
        case 0x2010:
        case 0x2011:
        case 0x2012:
        case 0x2013:
        case 0x2014:
        case 0x2015:
        case 0x2212:
            return '-';
        case 0x2026:
            return '.';
        case 0x2022:
        case 0x2219:
            return 0xB7;  // middle dot
        case 0x2039:
            return '<';
        case 0x203A:
            return '>';
        case 0x2044:
        case 0x2215:
            return '/';
        default:
            break;
    }
    if ((cp >= 0x2000 && cp <= 0x200A) || cp == 0x202F || cp == 0x205F || cp == 0x3000) return ' ';
    return '?';
}

void SetPendingRun(std::function<void()> store) {
    g_pendingRun = std::move(store);
}

void StorePendingRun() {
    // Taken out first: storing may fail or be interrupted, but never runs twice.
    std::function<void()> store = std::move(g_pendingRun);
    g_pendingRun = nullptr;
    if (store) store();
}

}  // namespace scores
