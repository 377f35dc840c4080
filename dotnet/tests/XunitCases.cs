// The same cases as OrqTests.cs's own runner, under xunit (`dotnet test`,
// scripts/test-dotnet.sh): each fact runs one group of cases and fails with the
// names and errors of the cases that failed; the cases' own lines go to the
// test output. REPO and BUILD come from ORQ_REPO and ORQ_BUILD (the checkout
// and the release build with xsr-sim and the double).
using System;
using System.Collections.Generic;
using System.IO;
using Xunit;
using Xunit.Abstractions;

public sealed class BindingTests
{
    readonly ITestOutputHelper output;

    public BindingTests(ITestOutputHelper output)
    {
        this.output = output;
        Program.Repo = Environment.GetEnvironmentVariable("ORQ_REPO") ?? Path.GetFullPath("../../../../..");
        Program.Build = Environment.GetEnvironmentVariable("ORQ_BUILD") ?? Path.Combine(Program.Repo, "build", "release");
    }

    void Group(Action cases)
    {
        var failed = new List<string>();
        Harness.Report = (name, error) =>
        {
            output.WriteLine((error == null ? "ok   " : "FAIL ") + name + (error == null ? "" : ": " + error));
            if (error != null) failed.Add(name + ": " + error.Message);
        };
        try
        {
            cases();
        }
        finally
        {
            Harness.Report = null;
        }
        Assert.True(failed.Count == 0, string.Join("\n", failed));
    }

    [Fact]
    public void TablesAgainstTheCCompiler()
    {
        Group(Program.TableTests);
    }

    [Fact]
    public void EveryFamilyAgainstXsrSim()
    {
        Group(() =>
        {
            using (var sim = new Sim(Program.Build, Program.ModulesList))
            {
                Program.SimTests(sim);
                Program.ServiceTests(sim.Port);
            }
        });
    }

    [Fact]
    public void AsyncFormsDisposalConnectStringsServerNames()
    {
        Group(() =>
        {
            using (var sim = new Sim(Program.Build, Program.ModulesList))
                Program.AsyncTests(sim.Port);
        });
    }

    [Fact]
    public void ClusterFailOver()
    {
        Group(Program.ClusterTest);
    }

    [Fact]
    public void AgainstTheScriptedDoubleInAChildProcess()
    {
        Group(Program.RunDoubleChild);
    }

    /// <summary>The shared table of cases (tests/cases/*.json, or ORQ_CASES) against the
    /// double in a child process; without the folder it says so and passes.</summary>
    [Fact]
    public void TableOfCases()
    {
        if (!Directory.Exists(Program.CasesFolder))
            output.WriteLine("skipped: no folder " + Program.CasesFolder + " (the table of cases tests/cases)");
        Group(Program.RunCasesChild);
    }
}
