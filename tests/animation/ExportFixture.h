// A folder of its own for each export test, removed afterwards, and the
// export into it.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SweepExport.h"

namespace tavrin::test {

class TExportFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance();
        Dir = std::filesystem::temp_directory_path() /
              ("tavrin-export-" + std::to_string(info->random_seed()) + "-" +
               info->current_test_info()->test_suite_name() + "-" +
               info->current_test_info()->name());
        std::filesystem::create_directories(Dir);
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }

    bool Export(const TWin& Source, const TSweepExport& Settings, const std::string& Name,
                const TExportProgress& Progress = {})
    {
        TWin output(Source.Width(), Source.Height());
        return ExportSweep(Source, output, Settings, (Dir / Name).string(), Progress);
    }

    // The files in the folder, sorted; Skip is left out.
    std::vector<std::string> Files(const std::string& Skip = {}) const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Dir))
            if (entry.path().filename() != Skip)
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path Dir;
};

} // namespace tavrin::test
