// mikral_test.cpp - the stand-in microstructure library: catalogue, model,
// look-ups and call log.

#include "mikral.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

namespace {

TEST(MikralCatalog, NamesByGlobalIndex) {
    MikralCatalog *cat = mikral_catalog_create();
    ASSERT_NE(cat, nullptr);
    std::string name = "eutectic";
    EXPECT_EQ(mikral_catalog_add_constituent(cat, 0, name.c_str()), 0);
    name[0] = 'X'; // the catalogue keeps its own copy
    EXPECT_EQ(mikral_catalog_add_constituent(cat, INT_MAX, "last"), 0);
    EXPECT_EQ(mikral_catalog_add_auxiliary(cat, 0, "SDAS"), 0);
    EXPECT_STREQ(micCNT_GindToName_CNT(cat, 0), "eutectic");
    EXPECT_STREQ(micCNT_GindToName_CNT(cat, INT_MAX), "last");
    // Constituents and auxiliary variables have separate numberings.
    EXPECT_STREQ(micCNT_GindToName_Aux(cat, 0), "SDAS");
    EXPECT_EQ(micCNT_GindToName_Aux(cat, INT_MAX), nullptr);
    // Renaming replaces.
    EXPECT_EQ(mikral_catalog_add_auxiliary(cat, 0, "DAS"), 0);
    EXPECT_STREQ(micCNT_GindToName_Aux(cat, 0), "DAS");
    mikral_catalog_destroy(cat);
}

TEST(MikralCatalog, RefusesBadArgumentsAndAnswersNullForUnknowns) {
    MikralCatalog *cat = mikral_catalog_create();
    ASSERT_NE(cat, nullptr);
    EXPECT_EQ(mikral_catalog_add_constituent(cat, -1, "x"), -1);
    EXPECT_EQ(mikral_catalog_add_constituent(cat, 1, nullptr), -1);
    EXPECT_EQ(mikral_catalog_add_auxiliary(nullptr, 1, "x"), -1);
    EXPECT_EQ(micCNT_GindToName_CNT(cat, -1), nullptr);
    EXPECT_EQ(micCNT_GindToName_CNT(cat, 1), nullptr);
    EXPECT_EQ(micCNT_GindToName_CNT(nullptr, 0), nullptr);
    EXPECT_EQ(micCNT_GindToName_Aux(nullptr, 0), nullptr);
    // Many names: the list grows past its first allocation.
    for (int g = 0; g < 100; ++g)
        ASSERT_EQ(mikral_catalog_add_constituent(cat, g, std::to_string(g).c_str()), 0);
    EXPECT_STREQ(micCNT_GindToName_CNT(cat, 57), "57");
    mikral_catalog_destroy(cat);
    mikral_catalog_destroy(nullptr);
}

TEST(MikralModel, ValuesByActiveIndexAndNode) {
    MikralModel *m = mikral_model_create(3, 2, 1);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(micModels_gCNTibyAind_checkIndices(m, 1, 2), 0.0);
    EXPECT_EQ(mikral_model_set_constituent(m, 1, 2, 0.25), 0);
    EXPECT_EQ(mikral_model_set_constituent(m, 0, 2, 0.5), 0);
    EXPECT_EQ(mikral_model_set_constituent(m, 1, 0, 0.75), 0);
    EXPECT_EQ(mikral_model_set_auxiliary(m, 0, 2, 12.5), 0);
    EXPECT_EQ(micModels_gCNTibyAind_checkIndices(m, 1, 2), 0.25);
    EXPECT_EQ(micModels_gCNTibyAind_checkIndices(m, 0, 2), 0.5);
    EXPECT_EQ(micModels_gCNTibyAind_checkIndices(m, 1, 0), 0.75);
    EXPECT_EQ(micModels_gCNTibyAind_checkIndices(m, 0, 0), 0.0);
    EXPECT_EQ(micModels_vAuxibyAind_checkIndices(m, 0, 2), 12.5);
    EXPECT_EQ(micModels_vAuxibyAind_checkIndices(m, 0, 1), 0.0);
    mikral_model_destroy(m);
}

// A view reads the caller's arrays as they are now, sets into them, and
// leaves them to the caller.
TEST(MikralModel, ViewReadsAndSetsTheCallersArrays) {
    std::vector<double> c(2 * 3, 0.0), a(1 * 3, 0.0);
    MikralModel *m = mikral_model_create_view(3, 2, 1, c.data(), a.data());
    ASSERT_NE(m, nullptr);
    c[1 * 3 + 2] = 0.25;
    a[0 * 3 + 1] = 12.5;
    EXPECT_EQ(micModels_gCNTibyAind_checkIndices(m, 1, 2), 0.25);
    EXPECT_EQ(micModels_vAuxibyAind_checkIndices(m, 0, 1), 12.5);
    EXPECT_EQ(mikral_model_set_constituent(m, 0, 1, 0.5), 0);
    EXPECT_EQ(c[0 * 3 + 1], 0.5);
    EXPECT_TRUE(std::isnan(micModels_gCNTibyAind_checkIndices(m, 2, 0)));
    mikral_model_destroy(m); // the arrays stay the caller's (ASan would see a bad free)
    EXPECT_EQ(c[1 * 3 + 2], 0.25);
    const struct {
        int nnodes, nc, na;
        bool constituents, auxiliaries;
        bool made;
    } cases[] = {{3, 2, 1, true, true, true},   {3, 2, 1, false, true, false},
                 {3, 2, 1, true, false, false}, {3, 0, 0, false, false, true},
                 {0, 2, 1, false, false, true}, {-1, 2, 1, true, true, false},
                 {3, -1, 1, true, true, false}};
    for (const auto &k : cases) {
        MikralModel *v =
            mikral_model_create_view(k.nnodes, k.nc, k.na, k.constituents ? c.data() : nullptr,
                                     k.auxiliaries ? a.data() : nullptr);
        EXPECT_EQ(v != nullptr, k.made) << k.nnodes << " " << k.nc << " " << k.na;
        mikral_model_destroy(v);
    }
}

TEST(MikralModel, OutOfRangeIsRefusedOrNaN) {
    EXPECT_EQ(mikral_model_create(-1, 1, 1), nullptr);
    EXPECT_EQ(mikral_model_create(1, -1, 1), nullptr);
    EXPECT_EQ(mikral_model_create(1, 1, -1), nullptr);
    EXPECT_EQ(mikral_model_create(INT_MAX, INT_MAX, 0), nullptr); // too big to hold

    MikralModel *m = mikral_model_create(3, 2, 1);
    ASSERT_NE(m, nullptr);
    const int bad[][2] = {{-1, 0}, {2, 0}, {0, -1}, {0, 3}, {INT_MIN, 0}, {0, INT_MAX}};
    for (const auto &b : bad) {
        SCOPED_TRACE(std::to_string(b[0]) + "," + std::to_string(b[1]));
        EXPECT_EQ(mikral_model_set_constituent(m, b[0], b[1], 1.0), -1);
        EXPECT_TRUE(std::isnan(micModels_gCNTibyAind_checkIndices(m, b[0], b[1])));
    }
    EXPECT_EQ(mikral_model_set_auxiliary(m, 1, 0, 1.0), -1);
    EXPECT_TRUE(std::isnan(micModels_vAuxibyAind_checkIndices(m, 1, 0)));
    EXPECT_TRUE(std::isnan(micModels_gCNTibyAind_checkIndices(nullptr, 0, 0)));
    EXPECT_TRUE(std::isnan(micModels_vAuxibyAind_checkIndices(nullptr, 0, 0)));
    EXPECT_EQ(mikral_model_set_auxiliary(nullptr, 0, 0, 1.0), -1);
    mikral_model_destroy(m);

    MikralModel *empty = mikral_model_create(0, 0, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(std::isnan(micModels_gCNTibyAind_checkIndices(empty, 0, 0)));
    mikral_model_destroy(empty);
    mikral_model_destroy(nullptr);
}

TEST(MikralCalls, RecordsEveryLookUpInOrder) {
    mikral_calls_clear();
    MikralCatalog *cat = mikral_catalog_create();
    MikralModel *model = mikral_model_create(1, 1, 1);
    ASSERT_TRUE(cat && model);
    (void)micCNT_GindToName_CNT(cat, 4);
    (void)micCNT_GindToName_Aux(nullptr, 5);
    (void)micModels_gCNTibyAind_checkIndices(nullptr, 6, 7);
    (void)micModels_vAuxibyAind_checkIndices(model, 8, 9);
    const void *handles[4] = {cat, nullptr, nullptr, model};
    ASSERT_EQ(mikral_calls_count(), 4);
    EXPECT_EQ(mikral_calls_total(), 4);
    const int want[4][3] = {{MIKRAL_CALL_NAME_CNT, 4, -1},
                            {MIKRAL_CALL_NAME_AUX, 5, -1},
                            {MIKRAL_CALL_VALUE_CNT, 6, 7},
                            {MIKRAL_CALL_VALUE_AUX, 8, 9}};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const MikralCall *c = mikral_calls_get(k);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->function, want[k][0]);
        EXPECT_EQ(c->handle, handles[k]);
        EXPECT_EQ(c->index, want[k][1]);
        EXPECT_EQ(c->node, want[k][2]);
    }
    EXPECT_EQ(mikral_calls_get(-1), nullptr);
    EXPECT_EQ(mikral_calls_get(4), nullptr);
    mikral_calls_clear();
    EXPECT_EQ(mikral_calls_count(), 0);
    EXPECT_EQ(mikral_calls_total(), 0);
    EXPECT_EQ(mikral_calls_get(0), nullptr);
    mikral_model_destroy(model);
    mikral_catalog_destroy(cat);
}

TEST(MikralCalls, KeepsTheLatestWhenFull) {
    mikral_calls_clear();
    const int calls = MIKRAL_CALLS_KEPT + 10;
    for (int k = 0; k < calls; ++k)
        (void)micModels_gCNTibyAind_checkIndices(nullptr, k, 0);
    EXPECT_EQ(mikral_calls_count(), MIKRAL_CALLS_KEPT);
    EXPECT_EQ(mikral_calls_total(), calls);
    EXPECT_EQ(mikral_calls_get(0)->index, 10);
    EXPECT_EQ(mikral_calls_get(MIKRAL_CALLS_KEPT - 1)->index, calls - 1);
    EXPECT_EQ(mikral_calls_get(MIKRAL_CALLS_KEPT), nullptr);
    mikral_calls_clear();
}

} // namespace
