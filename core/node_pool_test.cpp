#include "core/node_pool.h"

#include <gtest/gtest.h>

#include "core/file_node.h"
#include "core/result_test_util.h"

namespace fw {
namespace {

TEST(NodePoolTest, RefusesEmptyAndOversizedRequests) {
  NodePool pool(1000);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(pool.allocate(0, &p), Rc::BadRequest);
  EXPECT_EQ(p, nullptr);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(pool.allocate(1001, &p), Rc::BadRequest);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(pool.blockCount(), 0u);
}

TEST(NodePoolTest, WholeBlockRequestGetsAFreshBlockAndTheNextStartsAnother) {
  NodePool pool(1000);
  void* a;
  void* b;
  ASSERT_EQ(pool.allocate(10, &a), Rc::Ok);
  ASSERT_EQ(pool.allocate(1000, &b), Rc::Ok);
  EXPECT_EQ(pool.blockCount(), 2u);
  ASSERT_EQ(pool.allocate(2, &b), Rc::Ok);
  EXPECT_EQ(pool.blockCount(), 3u);
}

TEST(NodePoolTest, StartsNewBlockWhenRequestWouldReachItsEnd) {
  NodePool pool(1000);
  void* p;
  ASSERT_EQ(pool.allocate(900, &p), Rc::Ok);
  ASSERT_EQ(pool.used(), 900u);
  ASSERT_EQ(pool.allocate(98, &p), Rc::Ok);  // 998 < 1000: same block
  EXPECT_EQ(pool.blockCount(), 1u);

  NodePool other(1000);
  ASSERT_EQ(other.allocate(900, &p), Rc::Ok);
  ASSERT_EQ(other.allocate(100, &p), Rc::Ok);  // would end exactly at the end
  EXPECT_EQ(other.blockCount(), 2u);
  EXPECT_EQ(other.used(), 100u);
}

TEST(NodePoolTest, PiecesFollowEachOtherAndNodesAreAligned) {
  NodePool pool;
  void* a;
  void* b;
  ASSERT_EQ(pool.allocate(6, &a), Rc::Ok);
  ASSERT_EQ(pool.allocate(4, &b), Rc::Ok);
  EXPECT_EQ(static_cast<char*>(b), static_cast<char*>(a) + 6);
  FileNode* n;
  ASSERT_EQ(pool.allocateNode(&n), Rc::Ok);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(n) % alignof(FileNode), 0u);
  EXPECT_EQ(n->name, nullptr);
  EXPECT_EQ(n->flags, 0u);
  char16_t* name;
  ASSERT_EQ(pool.allocateName(u"abc", 3, &name), Rc::Ok);
  EXPECT_EQ(std::u16string(name), u"abc");
  EXPECT_EQ(reinterpret_cast<char*>(name), reinterpret_cast<char*>(n) + sizeof(FileNode));
}

TEST(NodePoolTest, ReleaseAllEmptiesAndTheNextRequestTakesANewBlock) {
  NodePool pool(1000);
  pool.releaseAll();  // on an empty pool: nothing happens
  EXPECT_EQ(pool.blockCount(), 0u);
  void* p;
  ASSERT_EQ(pool.allocate(500, &p), Rc::Ok);
  pool.releaseAll();
  EXPECT_EQ(pool.blockCount(), 0u);
  EXPECT_EQ(pool.used(), 0u);
  ASSERT_EQ(pool.allocate(8, &p), Rc::Ok);
  EXPECT_EQ(pool.blockCount(), 1u);
}

}  // namespace
}  // namespace fw
