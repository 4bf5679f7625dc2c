// The configuration store and the configuration library used from several threads at once,
// as the runtime's threads use them: every OpenAdapter entry reads properties, and a device
// creation may set one while others read. Run under ThreadSanitizer by `make test`.
#include "ConfigLibraryFixture.h"
#include "ConfigSceneFixture.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace configtest {
namespace {

constexpr int kThreads = 6;
constexpr int kRounds = 40;

// Starts `body(thread index)` on kThreads threads at the same moment and joins them.
template <typename Body> void runTogether(Body body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads)
                std::this_thread::yield();
            body(t);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

class ConfigStoreConcurrency : public ConfigStoreTest {};

TEST_F(ConfigStoreConcurrency, ReadersAndAWriterSeeWholeValues) {
    m_scene.database = database({{"orr_margin", "35"}, {"use_zari_dx9", "1"}}, "",
                                application("game", group("drop_draw_dx9", "1")));
    Configuration& configuration = load();

    std::atomic<int> wrong{0};
    runTogether([&](int t) {
        for (int round = 0; round < kRounds; ++round) {
            if (t == 0) {
                // Device creation turns an option off while other threads read it.
                configuration.setProperty(ConfigProperty::use_zari_dx9, round % 2);
                configuration.setProperty(ConfigProperty::gpu_vendor_id, round, 1);
                continue;
            }
            // The first reads of each property miss the cache and query the database.
            if (configuration.getIntProperty(ConfigProperty::orr_margin) != 35)
                wrong.fetch_add(1);
            if (configuration.getIntProperty(ConfigProperty::drop_draw_dx9) != 1)
                wrong.fetch_add(1);
            const WCHAR* zari = configuration.getProperty(ConfigProperty::use_zari_dx9);
            const std::string text = zari ? text::narrow(zari) : "";
            if (text != "0" && text != "1")
                wrong.fetch_add(1);
            configuration.getProperty(ConfigProperty::gpu_vendor_id, 1);
            configuration.getPropertySource(ConfigProperty::use_zari_dx9);
            if (configuration.getEffectiveGpuCount() != 2)
                wrong.fetch_add(1);
        }
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::use_zari_dx9), (kRounds - 1) % 2);
    EXPECT_EQ(configuration.getIntProperty(ConfigProperty::gpu_vendor_id, 1), kRounds - 1);
}

TEST_F(ConfigStoreConcurrency, ATextReadStaysValidAfterThePropertyIsSetAgain) {
    Configuration& configuration = load();
    configuration.setProperty(ConfigProperty::orr_margin, 12);
    const WCHAR* before = configuration.getProperty(ConfigProperty::orr_margin);
    configuration.setProperty(ConfigProperty::orr_margin, 13);
    // Another thread may still be reading the old text: it is kept, unchanged.
    EXPECT_EQ(text::narrow(before), "12");
    EXPECT_EQ(value(configuration, ConfigProperty::orr_margin), "13");
    // The same value again keeps the stored text.
    const WCHAR* current = configuration.getProperty(ConfigProperty::orr_margin);
    configuration.setProperty(ConfigProperty::orr_margin, 13);
    EXPECT_EQ(configuration.getProperty(ConfigProperty::orr_margin), current);
}

} // namespace
} // namespace configtest

namespace {

const char kDatabase[] = "<kora><default><g><orr_margin>20</orr_margin><use_orr_dx9>1</use_orr_dx9>"
                         "</g></default></kora>";

class ConfigLibraryConcurrency : public ConfigLibraryTest {};

TEST_F(ConfigLibraryConcurrency, OneManagerServesQueriesAndReleasesFromManyThreads) {
    ConfigManager* manager = openText("concurrent.xml", kDatabase);
    ASSERT_NE(manager, nullptr);
    std::atomic<int> wrong{0};
    configtest::runTogether([&](int t) {
        const char* query = t % 2 ? "kora/default/*/orr_margin" : "kora/default/*/use_orr_dx9";
        const std::string expected = t % 2 ? "20" : "1";
        for (int round = 0; round < configtest::kRounds; ++round) {
            if (textOf(manager, query) != expected)
                wrong.fetch_add(1);
            // Nodes handed out by a node go through the same table.
            std::u16string group = u"kora/default/g";
            ConfigNode* node = manager->pOps->getNode(manager, text::w(group));
            ConfigNode* child = node ? node->pOps->getChild(node, t % 2) : nullptr;
            if (!child)
                wrong.fetch_add(1);
            manager->pOps->releaseNode(manager, child);
            manager->pOps->releaseNode(manager, node);
        }
    });
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
