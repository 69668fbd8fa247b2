// The export directory is what docmill --configdir reads: a store exported by the job drives a
// real docmill run through the root pipeline and the source's own docfilter.
#include "trawlnestd/export-job.h"

#include "cfgstore_fixture.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/dbconn.h"

#include <cstdio>

using namespace lumbrake;
using namespace cfgstore_test;

namespace {

const std::string docmill_path = std::string(TN_BINARY_DIR) + "/src/worker/docmill";
const std::string page = std::string(TN_SOURCE_DIR) + "/tests/docmill/data/site/page.html";

TEST_F(DataDir, DocmillRunsThePipelinesOfAnExportedStore) {
    {
        db_connection db(*cfg_);
        config_stores stores(db);
        std::uint32_t m = 0;
        ASSERT_EQ(stores.plugins.add(db, Plugin{.Name = "meta", .DLLName = "docmill-test-meta"}, m),
                  1);
        ASSERT_EQ(stores.docfilters.add(db, DocFilter{.PluginID = 1, .Config = "origin=root"}, m),
                  1);
        ASSERT_EQ(stores.docfilters.add(db, DocFilter{.PluginID = 1, .Config = "origin=source"}, m),
                  2);
        ASSERT_TRUE(stores.renderer_pipes.set(db, 0, RendererPluginPipe{.DocFilterIDs = {1}}, m));
        SourceConfiguration source{.Name = "exported"};
        source.RendererDocFilterIDs = {2};
        ASSERT_EQ(stores.sources.add(db, source, m), 1);
    }
    const fs::path out = dir_ / "export";
    std::string error;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(cfgjobs::export_config(*cfg_, out.string(), error)) << error;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "E Source 1\nE Plugin 1\nE DocFilter 1\nE DocFilter 2\nE RendererPluginPipe 0\n");

    fs::create_directories(dir_ / "deploy" / "plugins");
    fs::copy_file(TN_FIXTURE_PLUGIN, dir_ / "deploy" / "plugins" / "libtestmeta.so");
    write_file(dir_ / "docmill.conf",
               "LOGCFG=WORKER:WARNING\nDEPLOYDIR=" + (dir_ / "deploy").string() + "\n");
    write_file(dir_ / "environment",
               "LUMBRAKE_CONFIG_FILE=" + (dir_ / "docmill.conf").string() + "\n");
    const std::string command = "LUMBRAKE_ENV_STORE='" + (dir_ / "environment").string() +
                                "' /usr/bin/timeout -s KILL 120 '" + docmill_path +
                                "' --configdir='" + out.string() +
                                "' --source=1 1000000 d1 'file://" + page + "' 2>'" +
                                (dir_ / "stderr").string() + "' </dev/null";
    int status = -1;
    const std::string report = tn_test::command_output_with_status(command, status);
    EXPECT_EQ(status, 0) << read_file(dir_ / "stderr");
    EXPECT_EQ(read_file(dir_ / "stderr"), "Looking for plugins and docfilters in " + out.string() +
                                              "\nRegistering plugin 1\nConfiguring docfilter 1\n"
                                              "Configuring docfilter 2\n");
    EXPECT_NE(report.find("key=\"origin\">root</meta>"), std::string::npos) << report;
    EXPECT_NE(report.find("key=\"origin\">source</meta>"), std::string::npos) << report;
}

} // namespace
