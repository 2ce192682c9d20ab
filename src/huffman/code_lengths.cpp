// Length-limited Huffman code lengths. The merge of the two lightest items
// from a binary min-heap breaks ties as the tie-break mode selects, so the
// four modes can give differently shaped trees of equal data cost; the tree
// header search tries them all. A tree deeper than the limit is repaired in a
// histogram of lengths and the lengths are handed out again in the order in
// which the merge first took the symbols off the heap.
//
// Each heap item carries all the merge needs (weight, height, tree node), so
// a merge step touches nothing but the heap and the new node.
#include "huffman/code_lengths.h"

#include <cstring>

namespace trimbit {
namespace {

constexpr uint32_t kMaxSymbols = 286;
constexpr uint32_t kMaxNodes = 2 * kMaxSymbols - 1;

// A heap item in one word: the weight (a count, or a subtree's total) in
// the high half, the subtree's height in bits 16-31 and its tree node in
// bits 0-15. Comparing the words without their low 16 bits orders by
// (weight, height), comparing the high halves by weight alone.
using HeapItem = uint64_t;

inline uint32_t WeightOf(HeapItem item) {
  return static_cast<uint32_t>(item >> 32);
}
inline uint32_t HeightOf(HeapItem item) {
  return static_cast<uint32_t>(item >> 16) & 0xFFFF;
}
inline uint32_t NodeOf(HeapItem item) {
  return static_cast<uint32_t>(item & 0xFFFF);
}
inline HeapItem ItemOf(uint32_t weight, uint32_t height, uint32_t node) {
  return uint64_t{weight} << 32 | height << 16 | node;
}

// The sentinel after the last item: never lighter than any item.
constexpr HeapItem kSentinelItem = ~HeapItem{0};

// Whether a comes before b: by (weight, height), or by weight alone. Filling
// the bits below the key of a with ones compares the keys in one step.
template <bool kByHeight>
inline bool Lighter(HeapItem a, HeapItem b) {
  constexpr HeapItem kBelowKey = kByHeight ? 0xFFFF : 0xFFFFFFFF;
  return (a | kBelowKey) < b;
}

// 1 when the two orderings disagree on whether a is lighter than b (equal
// weights, a lower), else 0.
inline uint32_t OrderingsDisagree(HeapItem a, HeapItem b) {
  return Lighter<true>(a, b) != Lighter<false>(a, b);
}

// Working storage of one call; lives in the caller's frame. Leaves are the
// nodes 0..m-1, one per used symbol in symbol order; internal nodes follow
// in order of creation.
struct CodeBuild {
  HeapItem heap[kMaxSymbols + 1];       // and a sentinel right after the last item
  uint16_t leafSymbol[kMaxSymbols];     // of each leaf
  uint16_t taken[kMaxNodes][2];         // children of an internal node: taken first, second
  uint16_t depth[kMaxNodes];            // of each node, from the root
  uint16_t popOrder[kMaxSymbols];       // leaves by their first merge, filled from the back
  uint32_t histogram[kMaxSymbols + 1];  // leaves per depth
};

// Puts `item` into the heap at `start`, whose subtrees are heaps: moves it
// down past every lighter child, taking the lighter child (ties to the
// left). heap[size] must be the sentinel, which stands in for a missing
// right child. With kNote, `ties` becomes non-zero if the other ordering
// would have decided any comparison made here differently.
template <bool kByHeight, bool kNote>
inline void SiftDown(HeapItem* heap, uint32_t size, uint32_t start, HeapItem item, uint32_t& ties) {
  uint32_t p = start;
  for (uint32_t c = 2 * p + 1; c < size; c = 2 * p + 1) {
    const HeapItem left = heap[c], right = heap[c + 1];
    if constexpr (kNote) ties |= OrderingsDisagree(right, left);
    const bool takeRight = Lighter<kByHeight>(right, left);
    const HeapItem child = takeRight ? right : left;
    if constexpr (kNote) ties |= OrderingsDisagree(child, item);
    if (!Lighter<kByHeight>(child, item)) break;
    heap[p] = child;
    p = c + takeRight;
  }
  heap[p] = item;
}

// The same sift in fewer comparisons, for a heap ordered by the sift's own
// ordering: the hole goes down the path of the lighter children
// to the bottom, then the item comes back up past every item on the path
// that is not lighter than it. The path is sorted, so the item lands where
// SiftDown would put it. The comparisons noted cover every item on the path
// of the same weight as `item`, so when none of them disagreed, SiftDown
// under the other ordering would also decide as this one does.
template <bool kByHeight, bool kNote>
inline void SiftDownToBottom(HeapItem* heap, size_t size, size_t start, HeapItem item,
                             uint32_t& ties) {
  size_t p = start;
  for (size_t c = 2 * p + 1; c < size; c = 2 * p + 1) {
    if constexpr (kNote) ties |= OrderingsDisagree(heap[c + 1], heap[c]);
    c += Lighter<kByHeight>(heap[c + 1], heap[c]);
    heap[p] = heap[c];
    p = c;
  }
  while (p > start) {
    const size_t up = (p - 1) / 2;
    const HeapItem above = heap[up];
    if constexpr (kNote) ties |= OrderingsDisagree(above, item);
    if (Lighter<kByHeight>(above, item)) break;
    heap[p] = above;
    p = up;
  }
  heap[p] = item;
}

// The sift of one step of the merge. Every sift keeps the heap ordered by
// weight, so a sift by weight can always go to the bottom; a sift by
// (weight, height) only when the mode orders by that throughout.
template <bool kByHeight, bool kOneRule, bool kNote>
inline void SiftTop(HeapItem* heap, size_t size, HeapItem item, uint32_t& ties) {
  if constexpr (kByHeight && !kOneRule)
    SiftDown<kByHeight, kNote>(heap, size, 0, item, ties);
  else
    SiftDownToBottom<kByHeight, kNote>(heap, size, 0, item, ties);
}

struct MergeResult {
  uint32_t height;       // of the tree
  uint32_t extractTies;  // non-zero: an extraction sift met a pair the orderings disagree on
  uint32_t mergeTies;    // the same for the sifts after a merge
};

// Merges the m >= 2 items of the heap into one tree; returns its height.
// Each step takes the lightest item off, then merges it into the item now
// at the top, which stays in the heap for the new subtree.
template <bool kExtractByHeight, bool kMergeByHeight, bool kNote>
MergeResult Merge(CodeBuild& b, uint32_t m) {
  constexpr bool kOneRule = kExtractByHeight == kMergeByHeight;
  MergeResult r = {0, 0, 0};
  HeapItem* heap = b.heap;
  size_t size = m;
  uint32_t next = m;
  HeapItem top = 0;
  while (size > 1) {
    const HeapItem first = heap[0];
    --size;
    const HeapItem last = heap[size];
    heap[size] = kSentinelItem;
    SiftTop<kExtractByHeight, kOneRule, kNote>(heap, size, last, r.extractTies);

    const HeapItem second = heap[0];
    b.taken[next][0] = static_cast<uint16_t>(NodeOf(first));
    b.taken[next][1] = static_cast<uint16_t>(NodeOf(second));
    const uint32_t h1 = HeightOf(first), h2 = HeightOf(second);
    // The weight wraps as a 32-bit count would.
    top = ItemOf(WeightOf(first) + WeightOf(second), (h1 > h2 ? h1 : h2) + 1, next++);
    SiftTop<kMergeByHeight, kOneRule, kNote>(heap, size, top, r.mergeTies);
  }
  r.height = HeightOf(top);
  return r;
}

template <bool kNote>
MergeResult MergeUnderMode(CodeBuild& b, uint32_t m, uint32_t mode) {
  switch (mode & 3) {
    case 0:
      return Merge<true, true, kNote>(b, m);
    case 1:
      return Merge<true, false, kNote>(b, m);
    case 2:
      return Merge<false, true, kNote>(b, m);
    default:
      return Merge<false, false, kNote>(b, m);
  }
}

// The modes whose orderings agree with `mode`'s wherever the merge compared.
ModeSet SameModes(uint32_t mode, const MergeResult& r) {
  ModeSet same = 0;
  for (uint32_t other = 0; other < 4; ++other) {
    const bool extractAlike = ((other ^ mode) & 2) == 0 || r.extractTies == 0;
    const bool mergeAlike = ((other ^ mode) & 1) == 0 || r.mergeTies == 0;
    if (extractAlike && mergeAlike) same |= 1u << other;
  }
  return same;
}

template <bool kNote>
ModeSet Build(const uint32_t* counts, uint32_t n, uint8_t* lengths, uint32_t limit, uint32_t mode) {
  if (n == 0) return kAllModes;
  CodeBuild b;

  uint32_t m = 0;
  for (uint32_t s = 0; s < n; ++s) {
    if (counts[s] == 0) continue;
    b.leafSymbol[m] = static_cast<uint16_t>(s);
    b.heap[m] = ItemOf(counts[s], 0, m);
    ++m;
  }
  std::memset(lengths, 0, n);
  if (m <= 1) {
    if (m == 1) lengths[b.leafSymbol[0]] = 1;
    return kAllModes;
  }

  // Every mode builds the initial heap by weight alone.
  b.heap[m] = kSentinelItem;
  uint32_t noTies = 0;
  for (uint32_t p = m / 2; p-- > 0;)
    SiftDownToBottom<false, false>(b.heap, m, p, b.heap[p], noTies);

  const MergeResult merged = MergeUnderMode<kNote>(b, m, mode);
  const ModeSet same = kNote ? SameModes(mode, merged) : 1u << mode;

  // Every internal node comes after its children: one walk down from the
  // root (the last node) reaches every parent before its children.
  const uint32_t root = 2 * m - 2;
  b.depth[root] = 0;
  for (uint32_t k = root; k >= m; --k) {
    const uint16_t below = static_cast<uint16_t>(b.depth[k] + 1);
    b.depth[b.taken[k][0]] = below;
    b.depth[b.taken[k][1]] = below;
  }

  uint32_t height = merged.height;
  if (height <= limit) {
    for (uint32_t i = 0; i < m; ++i) lengths[b.leafSymbol[i]] = static_cast<uint8_t>(b.depth[i]);
    return same;
  }

  // The order in which the merge first took each symbol off the heap: a
  // symbol is first taken in the step that merges its leaf, the item taken
  // off before the one it is merged into.
  uint32_t back = m;
  for (uint32_t k = m; k <= root; ++k)
    for (uint32_t side = 0; side < 2; ++side)
      if (b.taken[k][side] < m) b.popOrder[--back] = b.taken[k][side];

  // Each step makes a leaf at depth j an internal node with two leaves and
  // takes two leaves off the deepest level, one of them into their parent's
  // place: the leaf count and the Kraft sum stay the same.
  uint32_t* hist = b.histogram;
  std::memset(hist, 0, (height + 1) * sizeof(uint32_t));
  for (uint32_t i = 0; i < m; ++i) hist[b.depth[i]] += 1;
  while (height > limit) {
    uint32_t j = limit - 1;
    while (j > 0 && hist[j] == 0) --j;
    if (hist[j] == 0) break;  // no code fits the limit: the caller's guarantee was broken
    hist[j] -= 1;
    hist[j + 1] += 2;
    hist[height - 1] += 1;
    hist[height] -= 2;
    if (hist[height] == 0) --height;
  }

  // The symbols the merge took last get the shortest codes.
  uint32_t next = 0;
  for (uint32_t len = 1; next < m; ++len)
    for (uint32_t k = hist[len]; k > 0 && next < m; --k)
      lengths[b.leafSymbol[b.popOrder[next++]]] = static_cast<uint8_t>(len);
  return same;
}

}  // namespace

// counts: n symbol counts (n <= 286); lengths: n bytes out; limit: longest
// permitted length, with 2^limit above the number of used symbols. In
// `mode` bit 1 selects weight-only ordering after the extraction, bit 0
// after the merge. Writes nothing when n is 0.
void BuildCodeLengths(const uint32_t* counts, uint32_t n, uint8_t* lengths, uint32_t limit,
                      uint32_t mode) {
  Build<false>(counts, n, lengths, limit, mode);
}

ModeSet BuildCodeLengthsNotingTies(const uint32_t* counts, uint32_t n, uint8_t* lengths,
                                   uint32_t limit, uint32_t mode) {
  return Build<true>(counts, n, lengths, limit, mode);
}

}  // namespace trimbit
