// Length-limited Huffman code lengths. The merge of the two lightest items
// from a binary min-heap breaks ties as the tie-break mode selects, so the
// four modes can give differently shaped trees of equal data cost; the tree
// header search tries them all. A tree deeper than the limit is repaired in a
// histogram of lengths and the lengths are handed out again in the order in
// which the merge first took the symbols off the heap.
#include "huffman/code_lengths.h"

#include <cstring>

namespace trimbit {
namespace {

constexpr uint32_t kMaxSymbols = 286;
constexpr uint16_t kNoChild = 0xFFFF;

// One symbol; once the symbol has been merged it stands for the subtree.
struct SymbolRecord {
  uint32_t weight;  // count, or the subtree's total count
  uint32_t height;  // subtree height; after AssignDepths, the symbol's depth
  uint32_t popped;  // first taken off the heap already
  uint32_t node;    // the tree node the record stands for
};

// Leaves first (in symbol order), then internal nodes in order of creation.
struct TreeNode {
  uint16_t left;  // kNoChild for a leaf
  uint16_t right;
  uint16_t record;  // the leaf's symbol, or the record reused for the subtree
};

// A heap item in one word: its record's weight in the high half, height in
// bits 16-31 and the symbol in bits 0-15, so that comparing the words
// without their low 16 bits orders by (weight, height) and comparing high
// halves by weight alone.
using HeapItem = uint64_t;

inline HeapItem ItemOf(const SymbolRecord& r, uint32_t symbol) {
  return (uint64_t{r.weight} << 32) | r.height << 16 | symbol;
}
inline uint32_t SymbolOf(HeapItem item) {
  return static_cast<uint32_t>(item & 0xFFFF);
}

// Working storage of one call; lives in the caller's frame.
struct CodeBuild {
  SymbolRecord records[kMaxSymbols];
  TreeNode nodes[2 * kMaxSymbols - 1];
  uint16_t depth[2 * kMaxSymbols - 1];  // of each node, from the root
  HeapItem heap[kMaxSymbols + 1];       // and a sentinel right after the last item
  uint16_t popOrder[kMaxSymbols];       // filled from the back
  uint32_t histogram[kMaxSymbols + 1];
};

template <bool kByHeight>
inline bool Lighter(HeapItem a, HeapItem b) {
  if constexpr (kByHeight) return (a >> 16) < (b >> 16);
  return (a >> 32) < (b >> 32);
}

// The sentinel after the last item: never lighter than any item.
constexpr HeapItem kSentinelItem = ~HeapItem{0};

// Ties between the children go to the left one; a child no lighter than its
// parent stops the sift. heap[size] must be the sentinel, which stands in
// for the missing right child of the last item's parent.
template <bool kByHeight>
void SiftDown(HeapItem* heap, uint32_t size, uint32_t p) {
  const HeapItem item = heap[p];
  for (;;) {
    uint32_t c = 2 * p + 1;
    if (c >= size) break;
    c += Lighter<kByHeight>(heap[c + 1], heap[c]) ? 1 : 0;
    if (!Lighter<kByHeight>(heap[c], item)) break;
    heap[p] = heap[c];
    p = c;
  }
  heap[p] = item;
}

inline void SiftDownBy(bool byHeight, HeapItem* heap, uint32_t size) {
  if (byHeight)
    SiftDown<true>(heap, size, 0);
  else
    SiftDown<false>(heap, size, 0);
}

// Stores each leaf's depth in its record's height. The m leaves come first
// and every internal node after its children, so one walk down from the
// root (the last node) reaches every parent before its children.
void AssignDepths(CodeBuild& b, uint32_t m, uint32_t root) {
  b.depth[root] = 0;
  for (uint32_t i = root; i >= m; --i) {
    const TreeNode& t = b.nodes[i];
    const uint16_t below = static_cast<uint16_t>(b.depth[i] + 1);
    b.depth[t.left] = below;
    b.depth[t.right] = below;
  }
  for (uint32_t i = 0; i < m; ++i) b.records[b.nodes[i].record].height = b.depth[i];
}

inline void MarkPopped(CodeBuild& b, uint32_t symbol, uint32_t& back) {
  if (b.records[symbol].popped) return;
  b.records[symbol].popped = 1;
  b.popOrder[--back] = static_cast<uint16_t>(symbol);
}

}  // namespace

// counts: n symbol counts (n <= 286); lengths: n bytes out; limit: longest
// permitted length, with 2^limit above the number of used symbols. In
// `mode` bit 1 selects weight-only ordering after the extraction, bit 0
// after the merge. Writes nothing when n is 0.
void BuildCodeLengths(const uint32_t* counts, uint32_t n, uint8_t* lengths, uint32_t limit,
                      uint32_t mode) {
  if (n == 0) return;
  CodeBuild b;  // only the records of used symbols are ever read

  uint32_t m = 0;
  for (uint32_t s = 0; s < n; ++s) {
    if (counts[s] == 0) continue;
    b.records[s] = {counts[s], 0, 0, m};
    b.nodes[m] = {kNoChild, kNoChild, static_cast<uint16_t>(s)};
    b.heap[m++] = (uint64_t{counts[s]} << 32) | s;
  }

  if (m <= 1) {
    std::memset(lengths, 0, n);
    if (m == 1) lengths[SymbolOf(b.heap[0])] = 1;
    return;
  }

  b.heap[m] = kSentinelItem;
  for (uint32_t p = m / 2; p-- > 0;) SiftDown<false>(b.heap, m, p);

  const bool extractByHeight = (mode & 2) == 0;
  const bool mergeByHeight = (mode & 1) == 0;
  uint32_t back = m;
  uint32_t nextNode = m;
  uint32_t size = m;
  uint32_t s2 = 0;
  while (size > 1) {
    const uint32_t s1 = SymbolOf(b.heap[0]);
    MarkPopped(b, s1, back);
    b.heap[0] = b.heap[size - 1];  // s1 leaves the heap
    --size;
    b.heap[size] = kSentinelItem;
    SiftDownBy(extractByHeight, b.heap, size);

    s2 = SymbolOf(b.heap[0]);
    MarkPopped(b, s2, back);
    SymbolRecord& r1 = b.records[s1];
    SymbolRecord& r2 = b.records[s2];
    b.nodes[nextNode] = {static_cast<uint16_t>(r2.node), static_cast<uint16_t>(r1.node),
                         static_cast<uint16_t>(s2)};
    r2.height = (r1.height > r2.height ? r1.height : r2.height) + 1;
    r2.weight += r1.weight;
    r2.node = nextNode++;
    b.heap[0] = ItemOf(r2, s2);
    SiftDownBy(mergeByHeight, b.heap, size);
  }

  uint32_t height = b.records[s2].height;
  AssignDepths(b, m, nextNode - 1);

  if (height <= limit) {
    std::memset(lengths, 0, n);
    for (uint32_t i = 0; i < m; ++i) lengths[b.nodes[i].record] = static_cast<uint8_t>(b.depth[i]);
    return;
  }

  // Each step makes a leaf at depth j an internal node with two leaves and
  // takes two leaves off the deepest level, one of them into their parent's
  // place: the leaf count and the Kraft sum stay the same.
  uint32_t* hist = b.histogram;
  std::memset(hist, 0, (height + 1) * sizeof(uint32_t));
  for (uint32_t i = 0; i < m; ++i) hist[b.records[b.popOrder[i]].height] += 1;
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
  std::memset(lengths, 0, n);
  uint32_t next = 0;
  for (uint32_t len = 1; next < m; ++len)
    for (uint32_t k = hist[len]; k > 0 && next < m; --k)
      lengths[b.popOrder[next++]] = static_cast<uint8_t>(len);
}

}  // namespace trimbit
