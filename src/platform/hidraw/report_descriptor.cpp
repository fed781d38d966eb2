#include "platform/hidraw/report_descriptor.h"


namespace juxhid::hidraw {

bool ReportIdSet::empty() const {
    for (uint32_t word : words_)
        if (word != 0) return false;
    return true;
}

namespace {

enum class ItemType : uint8_t { Main = 0, Global = 1, Local = 2, Reserved = 3 };

namespace main_tag {
constexpr uint8_t kInput = 0x8;
constexpr uint8_t kOutput = 0x9;
constexpr uint8_t kCollection = 0xA;
constexpr uint8_t kFeature = 0xB;
constexpr uint8_t kEndCollection = 0xC;
}  // namespace main_tag

namespace global_tag {
constexpr uint8_t kUsagePage = 0x0;
constexpr uint8_t kReportSize = 0x7;
constexpr uint8_t kReportId = 0x8;
constexpr uint8_t kReportCount = 0x9;
constexpr uint8_t kPush = 0xA;
constexpr uint8_t kPop = 0xB;
}  // namespace global_tag

namespace local_tag {
constexpr uint8_t kUsage = 0x0;
constexpr uint8_t kUsageMinimum = 0x1;
}  // namespace local_tag

constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr uint32_t kGlobalStackDepth = 16;
// A report's byte count plus its ID byte must fit the 16-bit caps field.
constexpr uint64_t kMaxReportBits = (UINT16_MAX - 1) * 8ull;

struct Item {
    ItemType type;
    uint8_t tag;
    uint8_t dataBytes;
    uint32_t value;
};

enum class Scan { Short, Long, Truncated };

// Reads the item at *offset (which is inside the descriptor) and moves past
// it. Long items are only stepped over: nothing a length or a usage depends
// on is ever carried in one.
Scan readItem(const uint8_t* bytes, size_t length, size_t* offset, Item* item) {
    const size_t at = *offset;
    const size_t left = length - at;
    const uint8_t prefix = bytes[at];
    if (prefix == kLongItemPrefix) {
        if (left < 3 || left - 3 < bytes[at + 1]) return Scan::Truncated;
        *offset = at + 3 + bytes[at + 1];
        return Scan::Long;
    }
    static constexpr uint8_t kDataBytes[4] = {0, 1, 2, 4};
    const uint8_t dataBytes = kDataBytes[prefix & 3];
    if (left - 1 < dataBytes) return Scan::Truncated;
    uint32_t value = 0;
    for (uint8_t i = 0; i < dataBytes; ++i) value |= uint32_t{bytes[at + 1 + i]} << (8 * i);
    *item = Item{static_cast<ItemType>((prefix >> 2) & 3), static_cast<uint8_t>(prefix >> 4),
                 dataBytes, value};
    *offset = at + 1 + dataBytes;
    return Scan::Short;
}

struct GlobalState {
    uint16_t usagePage;
    uint32_t reportSize;
    uint32_t reportCount;
    uint8_t reportId;
};

// Only the first usage matters: it names the collection that follows.
struct LocalState {
    bool hasUsage;
    uint8_t dataBytes;
    uint32_t usage;
};

enum ReportKind { kInputReport, kOutputReport, kFeatureReport, kReportKinds };

// The reports of the top-level collection being read, in bits per report ID.
struct CollectionTally {
    uint32_t bits[kReportKinds][256];
    ReportIdSet used[kReportKinds];
};

uint16_t reportByteLength(const CollectionTally& tally, ReportKind kind) {
    bool any = false;
    uint32_t longest = 0;
    for (uint32_t id = 0; id < 256; ++id) {
        if (!tally.used[kind].contains(static_cast<uint8_t>(id))) continue;
        any = true;
        if (tally.bits[kind][id] > longest) longest = tally.bits[kind][id];
    }
    return any ? static_cast<uint16_t>((longest + 7) / 8 + 1) : 0;
}

class Parser {
public:
    explicit Parser(ReportDescriptor* out) : out_(out) {
        out_->numbered = false;
        out_->collectionCount = 0;
    }

    bool take(const Item& item) {
        switch (item.type) {
            case ItemType::Main: return takeMain(item);
            case ItemType::Global: return takeGlobal(item);
            case ItemType::Local: takeLocal(item); return true;
            case ItemType::Reserved: return true;
        }
        return true;
    }

    bool finish() const {
        if (depth_ != 0 || out_->collectionCount == 0) return false;
        // On the wire an unnumbered report could not be told from a numbered one.
        return !(sawUnnumbered_ && out_->numbered);
    }

private:
    bool takeMain(const Item& item) {
        bool fine = true;
        switch (item.tag) {
            case main_tag::kCollection: fine = openCollection(); break;
            case main_tag::kEndCollection: fine = closeCollection(); break;
            case main_tag::kInput: fine = addReport(kInputReport); break;
            case main_tag::kOutput: fine = addReport(kOutputReport); break;
            case main_tag::kFeature: fine = addReport(kFeatureReport); break;
            default: break;  // reserved tags, e.g. the zero padding some devices append
        }
        local_ = LocalState{};
        return fine;
    }

    bool takeGlobal(const Item& item) {
        switch (item.tag) {
            case global_tag::kUsagePage: global_.usagePage = static_cast<uint16_t>(item.value); break;
            case global_tag::kReportSize: global_.reportSize = item.value; break;
            case global_tag::kReportCount: global_.reportCount = item.value; break;
            case global_tag::kReportId:
                if (item.value == 0 || item.value > 255) return false;
                global_.reportId = static_cast<uint8_t>(item.value);
                break;
            case global_tag::kPush:
                if (stackDepth_ == kGlobalStackDepth) return false;
                stack_[stackDepth_++] = global_;
                break;
            case global_tag::kPop:
                if (stackDepth_ == 0) return false;
                global_ = stack_[--stackDepth_];
                break;
            default: break;
        }
        return true;
    }

    void takeLocal(const Item& item) {
        if (local_.hasUsage) return;
        if (item.tag == local_tag::kUsage || item.tag == local_tag::kUsageMinimum)
            local_ = LocalState{true, item.dataBytes, item.value};
    }

    bool openCollection() {
        if (depth_++ != 0) return true;
        if (out_->collectionCount == kMaxTopLevelCollections) return false;
        TopLevelCollection& collection = out_->collections[out_->collectionCount++];
        collection = TopLevelCollection{};
        // A four-byte usage carries its own page; a shorter one takes the
        // page in force at the Collection item, as Windows reads it.
        const bool extended = local_.dataBytes == 4;
        collection.usagePage = extended ? static_cast<uint16_t>(local_.usage >> 16) : global_.usagePage;
        collection.usage = static_cast<uint16_t>(local_.usage);
        tally_ = CollectionTally{};
        return true;
    }

    bool closeCollection() {
        if (depth_ == 0) return false;
        if (--depth_ == 0) finishTopLevel(out_->collections[out_->collectionCount - 1]);
        return true;
    }

    void finishTopLevel(TopLevelCollection& collection) const {
        collection.inputReportByteLength = reportByteLength(tally_, kInputReport);
        collection.outputReportByteLength = reportByteLength(tally_, kOutputReport);
        collection.featureReportByteLength = reportByteLength(tally_, kFeatureReport);
        for (uint32_t id = 0; id < 256; ++id)
            for (const ReportIdSet& used : tally_.used)
                if (used.contains(static_cast<uint8_t>(id))) collection.reportIds.add(static_cast<uint8_t>(id));
    }

    bool addReport(ReportKind kind) {
        if (depth_ == 0) return false;
        const uint64_t bits = uint64_t{global_.reportSize} * global_.reportCount;
        if (bits == 0) return true;  // no field, no report
        const uint8_t id = global_.reportId;
        const uint64_t total = tally_.bits[kind][id] + bits;
        if (total > kMaxReportBits) return false;
        tally_.bits[kind][id] = static_cast<uint32_t>(total);
        tally_.used[kind].add(id);
        if (id == 0)
            sawUnnumbered_ = true;
        else
            out_->numbered = true;
        return true;
    }

    ReportDescriptor* out_;
    GlobalState global_{};
    GlobalState stack_[kGlobalStackDepth] = {};
    uint32_t stackDepth_ = 0;
    LocalState local_{};
    size_t depth_ = 0;
    bool sawUnnumbered_ = false;
    CollectionTally tally_{};
};

}  // namespace

bool parseReportDescriptor(const uint8_t* bytes, size_t length, ReportDescriptor* descriptor) {
    if (descriptor == nullptr || (bytes == nullptr && length != 0)) return false;
    Parser parser(descriptor);
    size_t offset = 0;
    while (offset < length) {
        Item item{};
        const Scan scan = readItem(bytes, length, &offset, &item);
        if (scan == Scan::Truncated) return false;
        if (scan == Scan::Short && !parser.take(item)) return false;
    }
    return parser.finish();
}

}  // namespace juxhid::hidraw
