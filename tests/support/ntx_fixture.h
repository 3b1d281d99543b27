// Index-file tests: a scratch directory per test, index files created and
// opened through the runtime's file layer, and the helpers every index test
// needs (key texts of a given size, the tree's keys read in order both
// ways, the checker's verdict, an ordered model of the expected entries).
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "rdd/ntx/ntx_build.h"
#include "rdd/ntx/ntx_check.h"
#include "rdd/ntx/ntx_tree.h"
#include "runtime/files.h"

namespace xb::test {

using Entry = std::pair<std::string, uint32_t>;

// Orders keys as an index of that key size and direction does; a multimap
// with it inserts after the equal keys, as the index does.
struct KeyLess {
    uint16_t keySize;
    bool descending;
    bool operator()(const std::string& a, const std::string& b) const {
        return ntxCompare(a.data(), b.data(), keySize, descending) < 0;
    }
};
using KeyModel = std::multimap<std::string, uint32_t, KeyLess>;

class NtxTest : public ::testing::Test {
protected:
    std::string dir;
    std::vector<std::string> files;
    std::vector<os::Handle> handles;
    std::vector<NtxTree*> trees;

    void SetUp() override {
        dir = std::string("xbntx_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& ch : dir)
            if (ch == '/') ch = '_';
        os::createDirectory(dir.c_str());
    }
    void TearDown() override {
        for (NtxTree* t : trees) {
            ntxDetach(t);
            delete t;
        }
        for (os::Handle h : handles) fsClose(h);
        for (const std::string& f : files) os::deleteFile(f.c_str());
        os::removeDirectory(dir.c_str());
        EXPECT_EQ(ntxBufferUses(), 0u);
    }
    std::string path(const char* name) {
        std::string p = dir + "/" + name;
        files.push_back(p);
        return p;
    }
    os::Handle createFile(const char* name) {
        os::Handle h = fsCreate(path(name).c_str(), 0);
        EXPECT_NE(h, os::INVALID);
        handles.push_back(h);
        return h;
    }
    os::Handle openFile(const char* name) {
        os::Handle h = fsOpen((dir + "/" + name).c_str(), FO_READWRITE);
        EXPECT_NE(h, os::INVALID);
        handles.push_back(h);
        return h;
    }
    // A new empty index in a new file.
    NtxTree* create(const char* name, uint16_t keySize, bool unique = false, bool descending = false) {
        os::Handle h = createFile(name);
        NtxHeaderInfo info = {keySize, 0, "KEY", nullptr, nullptr, unique, descending, false};
        NtxTree* t = new NtxTree;
        EXPECT_EQ(ntxCreate(t, h, info), NTX_OK);
        trees.push_back(t);
        return t;
    }
    // Attaches to an open handle; the status of the attach, *out when OK.
    NtxStatus attach(os::Handle h, NtxTree** out) {
        NtxTree* t = new NtxTree;
        NtxStatus st = ntxAttach(t, h);
        if (st != NTX_OK) {
            delete t;
            return st;
        }
        trees.push_back(t);
        *out = t;
        return st;
    }
    void detach(NtxTree* t) {
        for (size_t i = 0; i < trees.size(); i++)
            if (trees[i] == t) trees.erase(trees.begin() + long(i));
        ntxDetach(t);
        delete t;
    }

    static std::string key(const std::string& text, uint16_t keySize) {
        std::string k(keySize, ' ');
        ntxKeyFromText(text.data(), uint32_t(text.size()), keySize, &k[0]);
        return k;
    }
    // Every entry in order, read forwards from the first key.
    static std::vector<Entry> forwards(NtxTree* t) {
        std::vector<Entry> out;
        uint32_t r;
        EXPECT_EQ(ntxDescend(t, NTX_FIRST, nullptr, 0, &r), NTX_OK);
        while (r != 0) {
            out.emplace_back(std::string(t->curKey, t->keySize), r);
            EXPECT_EQ(ntxStep(t, 1, &r), NTX_OK);
            if (out.size() > 1000000) break;
        }
        return out;
    }
    // The same read backwards from the last key, returned in forward order.
    static std::vector<Entry> backwards(NtxTree* t) {
        std::vector<Entry> out;
        uint32_t r;
        EXPECT_EQ(ntxDescend(t, NTX_LAST, nullptr, 0, &r), NTX_OK);
        while (r != 0) {
            out.emplace_back(std::string(t->curKey, t->keySize), r);
            EXPECT_EQ(ntxStep(t, -1, &r), NTX_OK);
            if (out.size() > 1000000) break;
        }
        return std::vector<Entry>(out.rbegin(), out.rend());
    }
    static std::vector<Entry> entries(const KeyModel& m) { return std::vector<Entry>(m.begin(), m.end()); }
    // The checker's verdict as text ("ok" or the violation).
    static std::string check(NtxTree* t, NtxCheckResult* result = nullptr) {
        NtxCheckResult r;
        NtxStatus st = ntxCheck(t, &r, nullptr, nullptr);
        if (result) *result = r;
        return st == NTX_OK ? std::string("ok") : std::string(r.message);
    }
};

}  // namespace xb::test
