// Test fixture: a searched folder of duplicates with a trash of its own.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <vector>

#include "cleanup/Plan.h"
#include "cleanup/Runner.h"
#include "hostile/TreeCheck.h"
#include "support/TempFolder.h"

// A searched folder of duplicates, a home trash of its own and a folder
// outside, for acting on real files.
class CleanupFixture : public ::testing::Test {
protected:
    TempFolder tree;
    TempFolder data;  // $XDG_DATA_HOME: the home trash lives here
    TempFolder outside;
    TempFolder work;            // journals
    bool linkAnyOwner = false;  // for act()

    void SetUp() override;
    void TearDown() override;

    // A group of files of the tree by relative path, with their facts read
    // now and the tree as their searched folder.
    cleanup::InputGroup group(std::initializer_list<std::string> relative);
    // A plan that keeps the first file listed of each group.
    cleanup::Plan keepFirst(const std::vector<cleanup::InputGroup>& groups);
    // Runs the plan with a journal in `work`.
    cleanup::Report act(const cleanup::Plan& plan, cleanup::ActionKind action,
                        const std::function<void(cleanup::Runner&)>& prepare = {});
    std::string journalPath() const { return work / "run.journal"; }

    // What must hold whatever happened: every content that was in the tree
    // is still there at least once, and every kept path is as it was.
    void expectNothingLost(const Snapshot& before, const cleanup::Plan& plan);
    // The same as text, "" when it holds, for checks made in a child process.
    std::string whatWasLost(const Snapshot& before, const cleanup::Plan& plan);

    // The outcomes of a report in plan order, as "word:relative path", for
    // comparing with what a test expects.
    std::vector<std::string> outcomes(const cleanup::Plan& plan, const cleanup::Report& report);
    std::string reasonFor(const cleanup::Plan& plan, const cleanup::Report& report,
                          const std::string& relative);

private:
    std::string m_savedDataHome;
    bool m_hadDataHome = false;
};

// Runs `body` in a child process inside a private mount namespace after
// `mount` has run there; 77 when mounting is refused (not root, or no
// unshare), else the body's result.
int inMountNamespace(const std::function<bool()>& mount, const std::function<int()>& body);

// A tmpfs of `size` (such as "1m") mounted on `folder`; for inMountNamespace.
bool mountTmpfs(const std::string& folder, const std::string& size);
