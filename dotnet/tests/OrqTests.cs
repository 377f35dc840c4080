// The .NET binding's tests. scripts/test-dotnet.sh runs them twice: compiled
// with mcs and run with mono (this file's Main), and under xunit with
// `dotnet test` (ORQExtClient.Tests.csproj, XunitCases.cs: the same cases):
//
//   mono OrqTests.exe REPO BUILD          the tables, and every family against xsr-sim;
//                                         runs the "double" part in a child process
//   mono OrqTests.exe double REPO BUILD   against the scripted XSRClient double (the
//                                         library must take its XSRClient from it)
//
// Each prints "N passed, N failed" and exits non-zero on any failure.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;
using System.Threading.Tasks;
using ORQExtClient;

static class Harness
{
    public static int Passed, Failed;
    /// <summary>Where a case's outcome goes besides the counts (the xunit runner's output).</summary>
    public static Action<string, Exception> Report = null;

    public static void Test(string name, Action body)
    {
        try
        {
            body();
            ++Passed;
            if (Report != null) Report(name, null);
            else Console.WriteLine("ok   " + name);
        }
        catch (Exception e)
        {
            ++Failed;
            if (Report != null) Report(name, e);
            else Console.WriteLine("FAIL " + name + ": " + e);
        }
    }

    public static void True(bool condition, string what)
    {
        if (!condition) throw new Exception("expected: " + what);
    }

    public static void Equal<T>(T expected, T actual, string what)
    {
        if (!EqualityComparer<T>.Default.Equals(expected, actual))
            throw new Exception(what + ": expected <" + expected + ">, got <" + actual + ">");
    }

    public static void Seq<T>(IEnumerable<T> expected, IEnumerable<T> actual, string what)
    {
        if (!expected.SequenceEqual(actual))
            throw new Exception(what + ": expected [" + string.Join(", ", expected) + "], got [" + string.Join(", ", actual) + "]");
    }

    public static E Throws<E>(Action body, string what) where E : Exception
    {
        try
        {
            body();
        }
        catch (E e)
        {
            return e;
        }
        catch (AggregateException a) when (a.InnerExceptions.Count == 1 && a.InnerException is E)
        {
            return (E)a.InnerException;
        }
        throw new Exception(what + ": expected " + typeof(E).Name);
    }

    /// <summary>The non-empty lines of a module's text answer.</summary>
    public static string[] Lines(ServerAnswer a)
    {
        return a.Text.Split(new[] { '\n' }, StringSplitOptions.RemoveEmptyEntries);
    }

    public static int Summary()
    {
        Console.WriteLine(Passed + " passed, " + Failed + " failed");
        return Failed == 0 ? 0 : 1;
    }

    /// <summary>Runs a program; its standard output (a non-zero exit fails).</summary>
    public static string Run(string file, string args, Dictionary<string, string> env = null, bool check = true)
    {
        var info = new ProcessStartInfo(file, args)
        {
            UseShellExecute = false,
            RedirectStandardOutput = true,
            RedirectStandardError = true,
        };
        if (env != null)
            foreach (var kv in env) info.EnvironmentVariables[kv.Key] = kv.Value;
        using (var p = Process.Start(info))
        {
            Task<string> err = p.StandardError.ReadToEndAsync();
            string output = p.StandardOutput.ReadToEnd();
            p.WaitForExit();
            LastError = err.Result;
            LastExit = p.ExitCode;
            if (check && p.ExitCode != 0)
                throw new Exception(file + " " + args + " exited with " + p.ExitCode + ": " + LastError);
            return output;
        }
    }

    /// <summary>Runs this test program again in a child process, on the runtime this one runs
    /// on: mono for the program mcs compiled, dotnet for the xunit project's.</summary>
    public static string RunSelf(string args, Dictionary<string, string> env = null, bool check = true)
    {
        string self = Assembly.GetExecutingAssembly().Location;
        if (Type.GetType("Mono.Runtime") != null) return Run("mono", "--debug " + self + " " + args, env, check);
        return Run("dotnet", "exec " + self + " " + args, env, check);
    }

    public static string LastError;
    public static int LastExit;
}

/// <summary>One xsr-sim on a free loopback port.</summary>
sealed class Sim : IDisposable
{
    readonly Process process;
    readonly string config;
    public readonly int Port;

    public Sim(string build, string modules = "", string name = null)
    {
        config = Path.GetTempFileName();
        File.WriteAllText(config, modules);
        var info = new ProcessStartInfo(Path.Combine(build, "sim", "xsr-sim"),
                                        "--port 0 --config " + config + (name != null ? " --name " + name : ""))
        {
            UseShellExecute = false,
            RedirectStandardOutput = true,
        };
        process = Process.Start(info);
        string line = process.StandardOutput.ReadLine() ?? "";
        foreach (string field in line.Split(' '))
            if (field.StartsWith("port=")) Port = int.Parse(field.Substring(5));
        if (Port == 0) throw new Exception("xsr-sim did not report its port: " + line);
    }

    public void Stop()
    {
        if (!process.HasExited)
        {
            Harness.Run("kill", "-TERM " + process.Id, check: false);
            if (!process.WaitForExit(10000)) process.Kill();
        }
    }

    public void Dispose()
    {
        Stop();
        process.Dispose();
        File.Delete(config);
    }
}

static class Program
{
    internal static string Repo, Build;
    const string Modules = "module KExt_NLPE KExt_NLPE\nmodule KExt_ARA KExt_ARA\nmodule KExt_KWFS KExt_KWFS\nmodule KExt_STM KExt_STM\n";

    internal const string ModulesList = Modules;
    static readonly string[] Docs =
    {
        "The football match ended with three goals and a penalty.",
        "Shares and stock markets fell; the bank raised interest rates.",
        "A new vaccine trial helps patients with a rare disease.",
    };

    static int Main(string[] args)
    {
        if (args.Length == 3 && args[0] == "double")
        {
            Repo = args[1];
            Build = args[2];
            DoubleTests.Run();
            return Harness.Summary();
        }
        if (args.Length == 3 && args[0] == "cases")
        {
            Repo = args[1];
            Build = args[2];
            CaseRunner.Run(CasesFolder);
            return Harness.Summary();
        }
        if (args.Length == 2 && args[0] == "exit-pending")
        {
            // Exits while an answer is still on its way and a callback is installed.
            var c = new OrqConnection("127.0.0.1", int.Parse(args[1]), "admin", "admin");
            c.QueueMessage("Script", Encoding.ASCII.GetBytes("delay=300 size=4"), r => { });
            c.SendAsync("Script", Encoding.ASCII.GetBytes("delay=300 size=4"));
            Console.WriteLine("done");
            return 0;
        }
        Repo = args[0];
        Build = args[1];
        TableTests();
        using (var sim = new Sim(Build, Modules))
        {
            SimTests(sim);
            ServiceTests(sim.Port);
            AsyncTests(sim.Port);
        }
        ClusterTest();
        RunDoubleChild();
        RunCasesChild();
        return Harness.Summary();
    }

    // ---- the native layer against the C header ---------------------------------

    static string CompileAndRun(string source, string name)
    {
        string dir = Path.Combine(Build, "dotnet", "probe");
        Directory.CreateDirectory(dir);
        string c = Path.Combine(dir, name + ".c"), exe = Path.Combine(dir, name);
        File.WriteAllText(c, source);
        Harness.Run("cc", "-std=c99 -Wall -I " + Path.Combine(Repo, "exports") + " -I " + Path.Combine(Build, "include") +
                    " " + c + " -o " + exe);
        return Harness.Run(exe, "");
    }

    static IEnumerable<Type> RecordTypes()
    {
        return typeof(OrqConnection).Assembly.GetTypes()
            .Where(t => t.IsValueType && !t.IsNested && t.Namespace == "ORQExtClient" && t.IsLayoutSequential && !t.IsEnum);
    }

    static IEnumerable<MethodInfo> Imports()
    {
        Type native = typeof(OrqConnection).Assembly.GetType("ORQExtClient.Native", true);
        return native.GetMethods(BindingFlags.Static | BindingFlags.NonPublic | BindingFlags.Public)
            .Where(m => (m.Attributes & MethodAttributes.PinvokeImpl) != 0);
    }

    internal static void TableTests()
    {
        Harness.Test("record sizes and field offsets match the C compiler", () =>
        {
            var lines = new List<string>();
            var expected = new List<string>();
            List<Type> records = RecordTypes().ToList();
            Harness.Equal(11, records.Count, "records of the header");
            foreach (Type t in records)
            {
                lines.Add("printf(\"" + t.Name + " size %zu\\n\", sizeof(" + t.Name + "));");
                expected.Add(t.Name + " size " + Marshal.SizeOf(t));
                foreach (FieldInfo f in t.GetFields(BindingFlags.Instance | BindingFlags.Public))
                {
                    lines.Add("printf(\"" + t.Name + "." + f.Name + " %zu\\n\", offsetof(" + t.Name + ", " + f.Name + "));");
                    expected.Add(t.Name + "." + f.Name + " " + Marshal.OffsetOf(t, f.Name));
                }
            }
            lines.Add("printf(\"ExtractEntry size %d\\n\", ORQEXT_EXTRACT_ENTRY_SIZE);");
            expected.Add("ExtractEntry size " + typeof(OrqConnection).Assembly.GetType("ORQExtClient.Native")
                         .GetField("ORQEXT_EXTRACT_ENTRY_SIZE", BindingFlags.Static | BindingFlags.NonPublic).GetValue(null));
            string got = CompileAndRun("#include <stdio.h>\n#include <stddef.h>\n#include \"orqext.h\"\nint main(void) {\n" +
                                       string.Join("\n", lines) + "\nreturn 0;\n}\n", "layout");
            Harness.Seq(expected, got.Split(new[] { '\n' }, StringSplitOptions.RemoveEmptyEntries), "layouts");
        });

        Harness.Test("the 116 declarations are the exports, once each, Winapi, and resolve in the library", () =>
        {
            string[] listed = File.ReadAllLines(Path.Combine(Repo, "exports", "orqext.exports"))
                .Select(l => l.Trim()).Where(l => l.Length > 0).ToArray();
            List<MethodInfo> imports = Imports().ToList();
            Harness.Equal(116, imports.Count, "DllImport methods");
            Harness.Seq(listed.OrderBy(n => n, StringComparer.Ordinal), imports.Select(m => m.Name).OrderBy(n => n, StringComparer.Ordinal), "names");
            foreach (MethodInfo m in imports)
            {
                var a = (DllImportAttribute)m.GetCustomAttributes(typeof(DllImportAttribute), false).Single();
                Harness.Equal("ORQExtClient", a.Value, m.Name + " library");
                Harness.Equal(m.Name, a.EntryPoint, m.Name + " entry point");
                Harness.Equal(CallingConvention.Winapi, a.CallingConvention, m.Name + " convention");
                Harness.True(a.ExactSpelling, m.Name + " exact spelling");
                Marshal.Prelink(m);  // EntryPointNotFoundException when the library lacks it
            }
            Type cb = typeof(OrqConnection).Assembly.GetType("ORQExtClient.Native+AsyncCallback", true);
            var u = (UnmanagedFunctionPointerAttribute)cb.GetCustomAttributes(typeof(UnmanagedFunctionPointerAttribute), false).Single();
            Harness.Equal(CallingConvention.Winapi, u.CallingConvention, "callback convention");
        });

        Harness.Test("the result table is the one of orqext_results.h", () =>
        {
            string got = CompileAndRun("#include <stdio.h>\n#include \"orqext_results.h\"\n" +
                                       "#define ROW(code, name, source, meaning) printf(\"%d\\t%s\\t%s\\t%s\\n\", code, name, source, meaning);\n" +
                                       "int main(void) { ORQEXT_RESULT_TABLE(ROW) return 0; }\n", "results");
            Harness.Seq(got.Split(new[] { '\n' }, StringSplitOptions.RemoveEmptyEntries),
                        OrqException.Results.Select(r => r.Code + "\t" + r.Name + "\t" + r.Source + "\t" + r.Meaning), "rows");
        });

        Harness.Test("exceptions take class, name and meaning from the table", () =>
        {
            var cases = new Dictionary<int, Type>
            {
                { -1107, typeof(OrqAnswerTooLongException) }, { -20104, typeof(OrqAnswerTooLongException) },
                { -1112, typeof(OrqTimeoutException) }, { -1113, typeof(OrqTimeoutException) }, { -20007, typeof(OrqTimeoutException) },
                { -4100, typeof(OrqConnectionException) }, { -20002, typeof(OrqConnectionException) }, { -20012, typeof(OrqConnectionException) },
                { -1100, typeof(OrqException) }, { -20206, typeof(OrqException) }, { -123456, typeof(OrqException) },
            };
            foreach (var kv in cases)
            {
                Exception x = OrqException.For(kv.Key, "ORQExt_Something");
                var e = (IOrqException)x;
                Harness.Equal(kv.Value, x.GetType(), "class of " + kv.Key);
                Harness.Equal(kv.Value == typeof(OrqTimeoutException), x is TimeoutException, "a TimeoutException: " + kv.Key);
                Harness.Equal(kv.Key, e.Code, "code");
                ResultRow row = OrqException.Results.FirstOrDefault(r => r.Code == kv.Key);
                Harness.Equal(row != null ? row.Name : "UNKNOWN", e.Name, "name of " + kv.Key);
                if (row != null)
                    Harness.Equal("ORQExt_Something failed: " + kv.Key + " " + row.Name + ": " + row.Meaning, x.Message, "message");
            }
        });
    }

    // ---- against xsr-sim -------------------------------------------------------

    static OrqConnection Connect(int port, Encoding encoding = null)
    {
        return new OrqConnection("127.0.0.1", port, "admin", "admin", encoding);
    }

    static byte[] B(string s) { return Encoding.UTF8.GetBytes(s); }
    static string S(byte[] b) { return Encoding.UTF8.GetString(b); }

    static Dictionary<string, string> Stats(OrqConnection c)
    {
        return S(c.SendMessage("Sim", B("stats"))).Split(new[] { '\n', ' ' }, StringSplitOptions.RemoveEmptyEntries)
            .Where(l => l.Contains("=")).ToDictionary(l => l.Split('=')[0], l => l.Split('=')[1]);
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    static int OpenAndDrop(int port)
    {
        return Connect(port).Handle;
    }

    internal static void SimTests(Sim sim)
    {
        int port = sim.Port;
        Harness.Test("connect, status, send and close; a second Dispose does nothing", () =>
        {
            Harness.True(OrqConnection.ServerStatus("127.0.0.1", port) >= 0, "status");
            var c = Connect(port);
            Harness.True(c.Handle != 0 && c.IsAlive(), "open");
            Harness.Equal("xsr-sim:" + port, S(c.SendMessage("Ident", B("?"))), "ident");
            int handle = c.Handle;
            c.Dispose();
            Harness.True(c.IsClosed && !c.IsAlive() && c.Handle == 0, "closed");
            Harness.Throws<ObjectDisposedException>(() => c.SendMessage("Echo", B("x")), "send after close");
            // The closed handle stays closed: a second Dispose must not close a later
            // connection that may have been given the same number.
            using (var other = Connect(port))
            {
                c.Dispose();
                Harness.True(other.IsAlive(), "the other connection after the second Dispose");
            }
        });

        Harness.Test("refused logins and closed ports throw OrqConnectionException", () =>
        {
            var e = Harness.Throws<OrqConnectionException>(() => new OrqConnection("127.0.0.1", port, "admin", "wrong"), "login");
            Harness.Equal(-20004, e.Code, "code");
            Harness.Equal("ORQExt_Connect", e.Call, "call");
            Harness.Equal("XSR_E_LOGIN", e.Name, "name");
            using (var s = new Sim(Build))
            {
                int closed = s.Port;
                s.Stop();
                Harness.Equal(-20002, Harness.Throws<OrqConnectionException>(() => OrqConnection.ServerStatus("127.0.0.1", closed), "status").Code, "closed port");
            }
        });

        Harness.Test("a connection nobody disposed is closed by the finalizer", () =>
        {
            int handle = OpenAndDrop(port);
            for (int i = 0; i < 20 && NativeIsConnect(handle) != 0; ++i)
            {
                GC.Collect();
                GC.WaitForPendingFinalizers();
            }
            Harness.Equal(0, NativeIsConnect(handle), "IsConnect of the dropped handle");
        });

        using (var c = Connect(port))
        {
            Harness.Test("module administration", () =>
            {
                c.RegisterModule("NetEcho", "2.0.0.0", fileRef: "echo", desc: "echo for dotnet");
                try
                {
                    Harness.True(c.ModuleList().Split('\n').Contains("NetEcho\t2.0.0.0\tregistered\techo"), "listed");
                    string[] info = c.ModuleInfo("NetEcho").Split('\n');
                    Harness.True(info.Contains("version=2.0.0.0") && info.Contains("desc=echo for dotnet"), "info");
                    var e = Harness.Throws<OrqException>(() => c.SendMessage("NetEcho", B("x")), "not started");
                    Harness.Equal("SIM_E_NOT_STARTED", e.Name, "name");
                    c.StartModule("NetEcho");
                    Harness.Equal("started", S(c.SendMessage("NetEcho", B("started"))), "echo");
                    c.StopModule("NetEcho", "2.0.0.0");
                    Harness.Equal(-20107, Harness.Throws<OrqException>(() => c.RegisterModule("NetEcho"), "again").Code, "registered");
                }
                finally
                {
                    c.UnregisterModule("NetEcho");
                }
                Harness.True(!c.ModuleList().Contains("NetEcho"), "gone");
                Harness.Equal("xsr-sim 1.0", c.ExtensionVersion(), "version");
            });

            Harness.Test("texts go out in the connection's encoding, payloads as given", () =>
            {
                using (var latin = Connect(port, Encoding.GetEncoding("iso-8859-1")))
                {
                    Harness.Seq(new byte[] { 0x63, 0xe9 }, latin.SendMessage("Echo", latin.Encoding.GetBytes("c\u00e9")), "latin-1 payload");
                    latin.RegisterModule("NetLatin", desc: "caf\u00e9");
                    try
                    {
                        Harness.True(latin.ModuleInfo("NetLatin").Split('\n').Contains("desc=caf\u00e9"), "read back in latin-1");
                        // One byte 0xE9 on the wire: not UTF-8, so the UTF-8 connection reads U+FFFD.
                        Harness.True(c.ModuleInfo("NetLatin").Split('\n').Contains("desc=caf\ufffd"), "read in UTF-8");
                        Harness.Throws<ArgumentException>(() => latin.RegisterModule("Net\u65e5"), "not representable in latin-1");
                    }
                    finally
                    {
                        latin.UnregisterModule("NetLatin");
                    }
                }
                byte[] binary = { 0, 1, 0xff, 0 };
                Harness.Seq(binary, c.SendMessage("Echo", binary), "binary payload");
                Harness.Seq(new byte[0], c.SendMessage("Echo", new byte[0]), "empty payload");
            });

            Harness.Test("answers longer than the first buffer size themselves", () =>
            {
                using (var small = Connect(port))
                {
                    small.AnswerSize = 300;
                    var want = Enumerable.Range(0, 1000).Select(i => (byte)(97 + i % 26)).ToArray();
                    Harness.Seq(want, small.SendMessage("Script", B("size=1000")), "1000 bytes from 300");
                    small.MaxAnswerSize = 999;
                    var e = Harness.Throws<OrqAnswerTooLongException>(() => small.SendMessage("Script", B("size=1000")), "over the maximum");
                    Harness.Equal(1000, e.Length, "reported length");
                }
            });

            Harness.Test("module result codes pass through", () =>
            {
                var e = Harness.Throws<OrqException>(() => c.SendMessage("Script", B("rc=-20999")), "rc");
                Harness.Equal(-20999, e.Code, "code");
                Harness.Equal("UNKNOWN", e.Name, "name");
                Harness.Equal(-20101, Harness.Throws<OrqException>(() => c.SendMessage("NoSuchModule", B("x")), "module").Code, "unknown module");
            });

            Harness.Test("SendMessage with a TimeSpan limit, with and without cancel", () =>
            {
                foreach (bool cancel in new[] { false, true })
                {
                    int before = int.Parse(Stats(c)["cancelled"]);
                    var e = Harness.Throws<OrqTimeoutException>(() => c.SendMessage("Script", B("delay=5000"), TimeSpan.FromMilliseconds(200), cancel), "time-out");
                    Harness.Equal(cancel ? -1113 : -1112, e.Code, "code");
                    Harness.Equal(before + (cancel ? 1 : 0), int.Parse(Stats(c)["cancelled"]), "cancelled on the server");
                }
                Harness.Equal("abc", S(c.SendMessage("Script", B("delay=300 size=3"), TimeSpan.FromSeconds(10))), "within the limit");
                Harness.Throws<ArgumentOutOfRangeException>(() => c.SendMessage("Echo", B("x"), TimeSpan.FromMilliseconds(-5)), "negative limit");
            });

            Harness.Test("SendAsync completes each task with its own answer; continuations stay off the library's worker", () =>
            {
                Task<byte[]> a = c.SendAsync("Script", B("delay=100 size=5"));
                Task<byte[]> b = c.SendAsync("Echo", B("second"));
                Harness.True(a.Wait(10000) && b.Wait(10000), "completed");
                Harness.Equal("abcde", S(a.Result), "a");
                Harness.Equal("second", S(b.Result), "b");
                var e = Harness.Throws<OrqException>(() => c.SendAsync("NoSuchModule", B("x")).Wait(10000), "failed answer");
                Harness.Equal(-20101, e.Code, "code");
                int caller = Thread.CurrentThread.ManagedThreadId, worker = caller;
                var done = new ManualResetEventSlim();
                int id = c.QueueMessage("Echo", B("cb"), r => { worker = Thread.CurrentThread.ManagedThreadId; done.Set(); });
                Harness.True(id > 0 && done.Wait(10000), "callback ran");
                Harness.True(worker != caller, "the callback runs on the library's worker");
                // Even a continuation that asks to run synchronously does not run on the
                // library's worker (it would hold up every other answer there).
                int continued = c.SendAsync("Echo", B("c")).ContinueWith(t => Thread.CurrentThread.ManagedThreadId,
                                                                         TaskContinuationOptions.ExecuteSynchronously).Result;
                Harness.True(continued != worker, "the continuation is not on the library's worker");
            });

            Harness.Test("cancellation: the library's cancel, the task cancelled, one completion", () =>
            {
                var calls = 0;
                int slow = c.QueueMessage("Script", B("delay=5000"), r => { Interlocked.Increment(ref calls); Harness.True(r.Cancelled, "cancelled result"); });
                Harness.True(OrqConnection.CancelMessage(slow), "cancelled");
                Harness.True(!OrqConnection.CancelMessage(slow), "a second cancel finds nothing");
                Harness.Equal(1, calls, "callbacks of the cancelled request");
                using (var cts = new CancellationTokenSource())
                {
                    Task<byte[]> t = c.SendAsync("Script", B("delay=5000"), cts.Token);
                    cts.Cancel();
                    Harness.Throws<TaskCanceledException>(() => t.Wait(10000), "cancelled task");
                    Harness.True(t.IsCanceled, "IsCanceled");
                }
                // A request queued behind a running one is cancelled before it was ever
                // sent: a plain cancel all the same, and the running one still answers.
                using (var cts = new CancellationTokenSource())
                {
                    Task<byte[]> first = c.SendAsync("Script", B("delay=600 size=2"));
                    Task<byte[]> queued = c.SendAsync("Echo", B("never"), cts.Token);
                    cts.Cancel();
                    Harness.True(queued.IsCanceled, "the queued request cancelled at once");
                    Harness.Equal("ab", S(first.Result), "the running request");
                }
                using (var cts = new CancellationTokenSource())
                {
                    cts.Cancel();
                    Harness.True(c.SendAsync("Echo", B("x"), cts.Token).IsCanceled, "a cancelled token sends nothing");
                }
                Harness.Equal("after", S(c.SendAsync("Echo", B("after")).Result), "later requests");
                Harness.Equal(1, calls, "no late callback of the cancelled request");
            });

            Harness.Test("SendAsync with a time limit: OrqTimeoutException -1113 at the limit, the request cancelled", () =>
            {
                Task<byte[]> slow = c.SendAsync("Script", B("delay=5000"), TimeSpan.FromMilliseconds(200));
                var e = Harness.Throws<OrqTimeoutException>(() => slow.Wait(10000), "timed out");
                Harness.Equal(-1113, e.Code, "the synchronous call's time-out after a cancel");
                Harness.Equal("quick", S(c.SendAsync("Echo", B("quick"), TimeSpan.FromSeconds(30)).Result), "answered within the limit");
                Harness.Equal("none", S(c.SendAsync("Echo", B("none"), Timeout.InfiniteTimeSpan).Result), "InfiniteTimeSpan: no limit");
                Harness.Throws<ArgumentOutOfRangeException>(() => c.SendAsync("Echo", B("x"), TimeSpan.FromMilliseconds(-2)), "a negative limit");
            });

            Harness.Test("a callback that throws is reported and never reaches the library", () =>
            {
                var reported = new List<KeyValuePair<int, Exception>>();
                Action<int, Exception> hook = (id, ex) => { lock (reported) reported.Add(new KeyValuePair<int, Exception>(id, ex)); };
                OrqAsync.CallbackFailed += hook;
                try
                {
                    var done = new ManualResetEventSlim();
                    int bad = c.QueueMessage("Echo", B("one"), r => { done.Set(); throw new InvalidOperationException("callback failed"); });
                    Harness.True(done.Wait(10000), "ran");
                    Harness.Equal("two", S(c.SendAsync("Echo", B("two")).Result), "the worker still serves");
                    lock (reported)
                    {
                        Harness.Equal(1, reported.Count, "reports");
                        Harness.Equal(bad, reported[0].Key, "request id");
                        Harness.True(reported[0].Value is InvalidOperationException, "the exception");
                    }
                }
                finally
                {
                    OrqAsync.CallbackFailed -= hook;
                }
            });

            Harness.Test("process exit with a request under way is clean", () =>
            {
                string output = Harness.RunSelf("exit-pending " + port);
                Harness.Equal("done\n", output, "output");
                Harness.Equal("", Harness.LastError, "standard error");
            });

            Harness.Test("statements", () =>
            {
                Harness.Equal(0, c.Execute("select * from dotnet_test"), "ExecSql2");
                Harness.Equal(0, OrqConnection.ExecSql("select 2 from dotnet_test", "127.0.0.1", port, "admin", "admin"), "ExecSql");
                string log = S(c.SendMessage("Sim", B("statements")));
                Harness.True(log.Contains("\tselect * from dotnet_test") && log.Contains("\tselect 2 from dotnet_test"), "logged");
                Harness.True(c.StatementProcess("use ext Echo cmd run some free text") >= 0, "process");
                Harness.Equal(-3502, Harness.Throws<OrqException>(() => c.StatementProcess("select 1"), "not extension").Code, "code");
                Harness.Throws<ArgumentException>(() => OrqConnection.ExecSql("select 1", "127.0.0.1", port, "admin;port=1", "admin"), "';' in a value");
            });

            Harness.Test("one connection shared by threads", () =>
            {
                var tasks = Enumerable.Range(0, 4).Select(n => Task.Run(() =>
                    Enumerable.Range(0, 20).Select(i => S(c.SendMessage("Echo", B("thread " + n + " message " + i)))).ToList())).ToArray();
                for (int n = 0; n < 4; ++n)
                    Harness.Seq(Enumerable.Range(0, 20).Select(i => "thread " + n + " message " + i), tasks[n].Result, "thread " + n);
            });
        }
    }

    static int NativeIsConnect(int handle)
    {
        MethodInfo m = Imports().Single(x => x.Name == "ORQExt_IsConnect");
        return (int)m.Invoke(null, new object[] { handle });
    }

    // ---- every service family against the simulated modules ---------------------

    internal static void ServiceTests(int port)
    {
        using (var c = Connect(port))
        {
            Harness.Test("segmentation with and without a dictionary", () =>
            {
                const string text = "I moved to New York in May";
                Harness.Seq(new[] { "I", "moved", "to", "New", "York", "in", "May" }, c.Segment(text).Select(t => t.Word), "plain");
                Harness.Equal(2, c.DictImport("netcities: new york, los angeles"), "import");
                Harness.Equal(2, c.DictLoad("netcities"), "load");
                IList<Token> tokens = c.Segment(text);
                Harness.True(tokens.Count == 6 && tokens.Any(t => t.Offset == 11 && t.Length == 8 && t.Word == "New York"), "New York as one");
                Harness.True(c.DictSearch("new york") >= 1, "search");
                Harness.Equal(-20203, Harness.Throws<OrqException>(() => c.DictUnload(987654), "unload").Code, "unknown handle");
                int h = c.DictHandle("netcities");
                Harness.True(h > 0, "handle");
                c.DeleteDictHandle(h);
                Harness.Seq(new[] { "0 3 \u65e5", "3 3 \u672c", "7 2 ok" }, c.Segment("\u65e5\u672c ok").Select(t => t.Offset + " " + t.Length + " " + t.Word), "bytes of UTF-8");
                Harness.Equal(0, c.Segment("").Count, "empty");
            });

            Harness.Test("aptitude search and segmentation", () =>
            {
                c.DictImport("netapt: apple, apricot, banana");
                c.DictLoad("netapt");
                c.AptitudeInit();
                try
                {
                    Harness.Seq(new[] { "apple", "apricot" }, Harness.Lines(c.AptitudeSearch("ap")), "search");
                    Harness.Seq(new[] { "apple", "pie" }, c.AptitudeSegment("apple pie").Select(t => t.Word), "segment");
                }
                finally
                {
                    c.AptitudeUninit();
                }
                Harness.Equal(-20206, Harness.Throws<OrqException>(() => c.AptitudeSearch("ap"), "uninit").Code, "state");
            });

            Harness.Test("similarity and the vector model", () =>
            {
                Harness.Equal(667, c.Similarity("a b c", "a b d"), "score");
                c.SimilarityInit();
                c.SimilarityShutdown();
                c.VsmInit(21);
                try
                {
                    // The module's own lines, handed back as they came (xsr-sim's layout).
                    ServerAnswer model = c.VsmBuild(21, new[] { new Document(5, Docs[0]), new Document(6, Docs[1]) });
                    string[] lines = Harness.Lines(model);
                    Harness.Equal("terms\t" + (lines.Length - 2) + "|documents\t2", lines[0] + "|" + lines[1], "model head");
                    Harness.Seq(Encoding.UTF8.GetBytes(model.Text), model.Bytes.TakeWhile(b => b != 0), "bytes and text agree");
                    string[][] ranked = Harness.Lines(c.VsmSimilar(21, "football goals")).Select(l => l.Split('\t')).ToArray();
                    Harness.True(ranked[0][0] == "5" && int.Parse(ranked[0][1]) > int.Parse(ranked[1][1]), "ranked");
                }
                finally
                {
                    c.VsmShutdown(21);
                }
            });

            Harness.Test("classification families", () =>
            {
                c.ClassifierInit(11);
                try
                {
                    string[][] got = Harness.Lines(c.Classify(11, OrqConnection.Numbered(Docs))).Select(l => l.Split('\t')).ToArray();
                    Harness.Seq(new[] { "0 sports", "1 finance", "2 health" }, got.Select(x => x[0] + " " + x[1]), "categories");
                    Harness.True(got.All(x => int.Parse(x[2]) > 0), "scores");
                }
                finally
                {
                    c.ClassifierShutdown(11);
                }
                c.EztcSetPath();
                Harness.Equal("finance", c.EztcClassify(new[] { Docs[1] }), "eztc");
                c.EztcFree();
                c.ClassifierSetPath();
                ClassifyResult r = c.ClassifierClassify(new[] { Docs[0] });
                Harness.True(r.Best == "sports" && (r.Scores.Text + ",").StartsWith("sports=" + r.ValueA + ","), "dictionary classifier: " + r.Scores);
                c.ClassifierFree();
                c.BsmInit();
                BsmResult bsm = c.BsmClassify(new[] { Docs[2] });
                Harness.True(bsm.Best == "health" && bsm.Matched && bsm.Scores.Text.StartsWith("health="), "bsm: " + bsm.Scores);
                c.BsmFree();
                c.UnlabelledInit();
                UnlabelledClass first = c.UnlabelledClass("goals goals match"), again = c.UnlabelledClass("goals again goals");
                Harness.True(first.Number.HasValue && first.Number == again.Number && first.Label == "goals" && again.Label == "goals", "unlabelled");
                c.UnlabelledFree();
            });

            Harness.Test("association families and keyword frequency", () =>
            {
                c.AssociationBegin("netrun");
                Harness.True(c.AssociationCount("stock market", "bank rates") > 0, "count");
                int pairs = c.AssociationEnd();
                Harness.True(pairs > 0, "pairs");
                Harness.True(c.WordSupport("netrun", "stock") > 0, "support");
                Harness.Equal(pairs, c.AssociationMerge("netrun", "netrun2"), "merged into a new run");
                int left = c.AssociationFilter("netrun2", "stock", 1);
                Harness.True(left > 0 && left < pairs, "filtered to the pairs with the term");
                Harness.Equal(-20203, Harness.Throws<OrqException>(() => c.AssociationMerge("no such run", "netrun3"), "merge").Code, "unknown run");
                c.ArInitial();
                Harness.Equal(2, c.ArCreate("netar", "finance", "stock=shares,bonds;bank=loan"), "create");
                Harness.True(c.ArExists("netar") && !c.ArExists("nope"), "exists");
                c.ArLoad("netar");
                Harness.Seq(new[] { "netar" }, Harness.Lines(c.ArNames()), "names");
                Harness.Seq(new[] { "netar" }, Harness.Lines(c.ArNames(true)), "loaded names");
                Harness.Seq(new[] { "finance" }, Harness.Lines(c.ArCategories()), "categories");
                AssociationResult found = c.ArSearch("stock and bank");
                Harness.Seq(new[] { "stock=shares,bonds", "bank=loan" }, Harness.Lines(found.Associations), "associations");
                Harness.Seq(new[] { "finance" }, Harness.Lines(found.Categories), "found categories");
                Harness.True(c.ArImport("netar:rates=interest") >= 1, "import");
                AssociationResult imported = c.ArSearch("rates", false);
                Harness.Seq(new[] { "rates=interest" }, Harness.Lines(imported.Associations), "imported entry");
                Harness.Equal(0, imported.Categories.Bytes.Length, "no categories asked for");
                var items = Docs.Select(d => new KeywordItem(d, 1)).ToList();
                Harness.True(c.KeywordFrequency(items) > 0, "frequency");
                Harness.True(c.KeywordAssociated(items, "bank") > 0, "associated");
                c.ArUnload("netar");
                c.ArDelete("netar");
                Harness.True(!c.ArExists("netar"), "deleted");
            });

            Harness.Test("extraction families", () =>
            {
                c.ExtractInit(1);
                try
                {
                    IList<ExtractedWord> words = c.ExtractWords(new[] { "beta alpha beta" }, mode: 2);
                    Harness.Seq(new[] { "beta 2", "alpha 1" }, words.Select(w => w.Word + " " + w.Count), "words");
                    Harness.Equal("0 0 4", words[0].FirstOffset + " " + words[0].TextIndex + " " + words[0].Length, "entry fields");
                    Harness.Throws<OrqAnswerTooLongException>(() => c.ExtractWords(new[] { "one two three" }, capacity: 2), "capacity");
                    Harness.Seq(new[] { "beta", "alpha" }, c.ExtractWords(new[] { "Beta alpha", "BETA" }, normal: true).Select(w => w.Word), "lower case");
                }
                finally
                {
                    c.ExtractFree();
                }
                c.KeywordsInit(31);
                Harness.Seq(new[] { "goals\t3", "match\t2" }, Harness.Lines(c.Keywords(31, OrqConnection.Numbered("goals goals match", "match goals"), number: 2)), "keywords");
                c.KeywordsShutdown(31);
                const string text = "Stocks fell. The match had goals. Goals win matches.";
                c.AbstractInit(41);
                Harness.Equal("The match had goals.", c.Abstract(41, text), "abstract");
                c.AbstractShutdown(41);
                c.AbstractorInit();
                Harness.Equal("The match had goals.", c.Abstractor(text), "abstractor");
                c.AbstractorShutdown();
            });

            Harness.Test("topics", () =>
            {
                c.TopicInit();
                Harness.Equal(3, c.MakeTopic("netsport", "football goals match"), "make");
                Harness.True(Harness.Lines(c.Topics()).Contains("netsport\t3"), "listed");
                Harness.Seq(new[] { "goals", "match" }, Harness.Lines(c.TopicItems("netsport", "two goals in the match")), "items");
                Harness.True(c.ExportSqlToFile("select * from t", "out.txt", 1, ",") >= 0, "export accepted");
                Harness.Equal(-20205, Harness.Throws<OrqException>(() => c.ExportSqlToFile("select 1", "", 1, ","), "export").Code, "empty file name");
                c.TopicUninit();
            });

            Harness.Test("text mining engine, domains and analysers", () =>
            {
                c.StmInit();
                Harness.True(c.StmInitialized(), "initialised");
                c.CreateDomain("netdomain", "a test domain", "alpha beta");
                try
                {
                    Harness.True(Harness.Lines(c.Domains()).Contains("netdomain"), "listed");
                    int h = c.OpenDomain("netdomain");
                    Harness.True(h > 0 && c.DomainHandle("netdomain") == h, "handle");
                    Harness.Equal("netdomain", c.DomainName(h), "name");
                    Harness.Seq(new[] { "netdomain" }, Harness.Lines(c.Domains(true)), "open ones");
                    c.CloseDomain("netdomain");
                    Harness.Equal(-20203, Harness.Throws<OrqException>(() => c.OpenDomain("no such domain"), "missing").Code, "not found");
                }
                finally
                {
                    c.DeleteDomain("netdomain");
                }
                c.FilterInit(51, "bank vaccine");
                Harness.Equal(2, c.FilterCount(51, OrqConnection.Numbered(Docs)), "filter");
                c.FilterShutdown(51);
                c.TextClusterInit(61);
                Harness.Equal(2, c.TextCluster(61, OrqConnection.Numbered("goals goals", "bank bank", "goals again goals")), "clusters");
                c.TextClusterShutdown(61, "netclusters", 1, 2, 3, 4);
                Harness.Throws<ArgumentException>(() => c.TextClusterShutdown(61, new string('n', 256)), "name too long");
                c.StmShutdown();
                Harness.True(!c.StmInitialized(), "shut down");
            });
        }
    }

    // ---- asynchronous forms, disposal, connect strings, server names ----------------

    /// <summary>The cases of the C library's connect string parser
    /// (tests/unit/core/core_test.cpp, ConnectStringTest): string, taken, server, port, user, pass.</summary>
    static readonly object[][] ConnectStrings =
    {
        new object[] { "Server=Host1;Port=4000;USER=Admin;pass=PW", true, "host1", 4000, "admin", "pw" },
        new object[] { "pass=a;user=b;port=1;server=c", true, "c", 1, "b", "a" },
        new object[] { "xserver=h; port= 12x;user=u;pass=", true, "h", 12, "u", "" },
        new object[] { "server=h;port=x;user=u;pass=p", true, "h", 0, "u", "p" },
        new object[] { "server=h;port=-3;user=u;pass=p", true, "h", -3, "u", "p" },
        new object[] { "server=h;port=99999999999;user=u;pass=p", true, "h", 0, "u", "p" },
        new object[] { "server=h;port=1;user=u", false, "", 0, "", "" },
        new object[] { "superuser=x;server=h;port=1;pass=p", true, "h", 1, "x", "p" },
    };

    internal static void AsyncTests(int port)
    {
        Harness.Test("every call that waits on the server has an ...Async form taking a CancellationToken", () =>
        {
            var notAsync = new HashSet<string> { "QueueMessage", "CancelMessage", "SendAsync", "Numbered", "Dispose", "DisposeAsync",
                                                 "Open", "OpenAsync", "ToString", "Equals", "GetHashCode", "GetType" };
            MethodInfo[] methods = typeof(OrqConnection).GetMethods(BindingFlags.Public | BindingFlags.Instance | BindingFlags.Static | BindingFlags.DeclaredOnly)
                .Where(m => !m.IsSpecialName).ToArray();
            var missing = new List<string>();
            foreach (MethodInfo m in methods.Where(m => !notAsync.Contains(m.Name) && !m.Name.EndsWith("Async")))
            {
                Type[] types = m.GetParameters().Select(p => p.ParameterType).Concat(new[] { typeof(CancellationToken) }).ToArray();
                MethodInfo a = typeof(OrqConnection).GetMethod(m.Name + "Async", types);
                if (a == null || !typeof(Task).IsAssignableFrom(a.ReturnType) || a.IsStatic != m.IsStatic) missing.Add(m.Name);
            }
            Harness.Seq(new string[0], missing, "calls without an ...Async form");
            Harness.True(methods.Count(m => m.Name.EndsWith("Async")) > 90, "async forms");
        });

        Harness.Test("a time-out is caught as System.TimeoutException, with its code", () =>
        {
            using (var c = Connect(port))
            {
                try
                {
                    c.SendMessage("Script", B("delay=5000"), TimeSpan.FromMilliseconds(300));
                    throw new Exception("no time-out");
                }
                catch (TimeoutException e)
                {
                    var orq = (IOrqException)e;
                    Harness.Equal("-1112 ORQEXT_E_TIMEOUT", orq.Code + " " + orq.Name, "code and name");
                    Harness.True(orq.Meaning.Length > 0 && e.Message.Contains("-1112"), "meaning and message");
                }
            }
        });

        Harness.Test("OpenAsync from a connect string, ...Async calls, and a connection closed by DisposeAsync", () =>
        {
            string cs = "server=127.0.0.1;port=" + port + ";user=admin;pass=admin";
            OrqConnection c = OrqConnection.OpenAsync(cs).Result;
            Harness.Equal("xsr-sim:" + port, S(c.SendMessageAsync("Ident", B("?")).Result), "ident");
            Harness.Seq(new[] { "moved", "to", "Paris" }, c.SegmentAsync("moved to Paris").Result.Select(t => t.Word), "segment");
            Harness.True(c.ModuleListAsync().Result.Contains("Echo"), "module list");
            Harness.True(OrqConnection.ServerStatusAsync("127.0.0.1", port).Result >= 0, "static call");
            using (var cts = new CancellationTokenSource())
            {
                cts.Cancel();
                Harness.True(c.ModuleListAsync(cts.Token).IsCanceled, "a fired token cancels before anything is sent");
            }
#if NETCOREAPP3_0_OR_GREATER
            c.DisposeAsync().AsTask().Wait();
#else
            c.Dispose();
#endif
            Harness.True(c.IsClosed, "closed");
            Harness.Throws<ObjectDisposedException>(() => c.ModuleListAsync().Wait(), "after disposal");
            using (var other = new OrqConnection(cs))
                Harness.True(other.IsAlive(), "the constructor takes the connect string");
            Harness.Throws<ArgumentException>(() => OrqConnection.Open("server=127.0.0.1;port=1;user=u"), "a key missing");
        });

        Harness.Test("disposing a connection ends its pending requests at once", () =>
        {
            var c = Connect(port);
            Task<byte[]> queued = c.SendAsync("Script", B("delay=2000 size=4"));
            Task<byte[]> pooled = c.SendMessageAsync("Script", B("delay=1500 size=4"));
            var callback = new TaskCompletionSource<OrqAsyncResult>();
            c.QueueMessage("Script", B("delay=2000 size=4"), r => callback.TrySetResult(r));
            c.Dispose();
            // Ended by Dispose itself, not later by the library's worker or the pool thread.
            foreach (Task<byte[]> t in new[] { queued, pooled })
            {
                Harness.True(t.IsFaulted, "ended at once: " + t.Status);
                Harness.True(t.Exception.InnerException is ObjectDisposedException, "ObjectDisposedException: " + t.Exception.InnerException);
            }
            Harness.True(callback.Task.Wait(2000) && callback.Task.Result.Cancelled, "the callback is told: cancelled");
            using (var d = Connect(port))
            using (var cts = new CancellationTokenSource())
            {
                Task<byte[]> slow = d.SendMessageAsync("Script", B("delay=1000 size=2"), cancellationToken: cts.Token);
                cts.Cancel();
                Harness.True(slow.IsCanceled, "the token ends the task at once");
                Harness.Equal("ab", S(d.SendMessage("Script", B("delay=10 size=2"))), "the connection goes on");
            }
        });

        Harness.Test("connect strings: the keys and rules of the C library's parser", () =>
        {
            foreach (object[] k in ConnectStrings)
            {
                string cs = (string)k[0];
                if (!(bool)k[1])
                {
                    var e = Harness.Throws<ArgumentException>(() => OrqConnectionString.Parse(cs), cs);
                    Harness.Equal("connectionString", e.ParamName, "argument named");
                    continue;
                }
                OrqConnectionString p = OrqConnectionString.Parse(cs);
                Harness.Equal(string.Join("|", k.Skip(2)), p.Server + "|" + p.Port + "|" + p.User + "|" + p.Password, cs);
            }
        });

        Harness.Test("server names longer than the login record: resolved and tried by address, or refused naming the argument", () =>
        {
            // 18 characters that the resolver reads as 127.0.0.1 without asking the network.
            const string longName = "0x000000007f000001";
            using (var c = new OrqConnection(longName, port, "admin", "admin"))
                Harness.Equal("xsr-sim:" + port, S(c.SendMessage("Ident", B("?"))), "connected by address");
            Harness.True(OrqConnection.ServerStatus(longName, port) >= 0, "status by address");
            // An IPv6 text: resolves, but to no IPv4 address.
            var e = Harness.Throws<ArgumentException>(() => new OrqConnection("::ffff:7f00:1:0:1", port, "admin", "admin"), "no IPv4 address");
            Harness.Equal("server", e.ParamName, "argument");
            Harness.True(e.Message.StartsWith("server: '::ffff:7f00:1:0:1' resolves to no IPv4 address; the login record holds 15 characters of the server name"),
                         "message: " + e.Message);
        });
    }

    internal static void ClusterTest()
    {
        Harness.Test("cluster routing fails over; fields too long are refused, not cut", () =>
        {
            var nodes = new[] { new Sim(Build, "", "node1"), new Sim(Build, "", "node2"), new Sim(Build, "", "node3") };
            try
            {
                using (var c = Connect(nodes[2].Port))
                {
                    var cluster = new Cluster("Ident", "t1", "attr a", "attr b");
                    c.AddCluster(cluster);
                    c.AddCluster(cluster, nodes.Select((n, i) => new Node("127.0.0.1", n.Port, "admin", "admin", "node" + (i + 1))));
                    Harness.Equal(1, c.ClusterCount(), "count");
                    Harness.Seq(new[] { "Ident t1 attr a attr b" }, c.Clusters().Select(x => x.Name + " " + x.Tag + " " + x.AttrA + " " + x.AttrB), "clusters");
                    Harness.Equal("attr b", c.Cluster("IDENT", "T1").AttrB, "by name");
                    Harness.Seq(nodes.Select((n, i) => n.Port + " node" + (i + 1)), c.Nodes("Ident", "t1").Select(n => n.Port + " " + n.Attr), "nodes");
                    Harness.True(!c.ClusterEnabled, "off");
                    c.EnableCluster(true);
                    Harness.True(c.ClusterEnabled, "on");
                    Harness.Equal("node1", S(c.SendMessage("ident", B("?"))), "first node");
                    nodes[0].Stop();
                    Harness.Equal("node2", S(c.SendMessage("ident", B("?"))), "fail-over");
                    c.DeleteCluster("Ident", "t1", "127.0.0.1:" + nodes[1].Port);
                    Harness.Equal(2, c.Nodes("Ident", "t1").Count, "node deleted");
                    Harness.Equal("node3", S(c.SendMessage("ident", B("?"))), "third node");
                    c.EnableCluster(false);
                    c.DeleteCluster("Ident", "t1");
                    Harness.True(c.ClusterCount() == 0 && c.Clusters().Count == 0, "none left");
                    Harness.Equal(-4128, Harness.Throws<OrqException>(() => c.Cluster("Ident", "t1"), "gone").Code, "no cluster");
                    foreach (var bad in new[] { new Cluster(new string('n', 256), "t"), new Cluster("Ident", new string('t', 16)),
                                                new Cluster("Ident", "t", new string('a', 32)) })
                        Harness.Throws<ArgumentException>(() => c.AddCluster(bad), "too long");
                    Harness.Throws<ArgumentException>(() => c.AddCluster(new Cluster("Ident", "t"), new[] { new Node(new string('s', 20), 1, "u", "p") }), "server too long");
                }
            }
            finally
            {
                foreach (Sim s in nodes) s.Dispose();
            }
        });
    }

    // ---- the scripted double, in a child process -----------------------------------

    /// <summary>The shared table of cases: ORQ_CASES, or tests/cases of the checkout.</summary>
    internal static string CasesFolder
    {
        get { return Environment.GetEnvironmentVariable("ORQ_CASES") ?? Path.Combine(Repo, "tests", "cases"); }
    }

    internal static void RunDoubleChild()
    {
        RunDoubleChild("double", "the scripted double's tests (child process)");
    }

    /// <summary>The table of cases (tests/cases) against the double, in a child process.</summary>
    internal static void RunCasesChild()
    {
        if (!Directory.Exists(CasesFolder))
        {
            Console.WriteLine("skipped: the table of cases: no folder " + CasesFolder + " (ORQ_CASES or tests/cases of the checkout)");
            return;
        }
        RunDoubleChild("cases", "the table of cases tests/cases against the double (child process)");
    }

    static void RunDoubleChild(string mode, string title)
    {
        Harness.Test(title, () =>
        {
            var env = new Dictionary<string, string>
            {
                { "LD_LIBRARY_PATH", Path.Combine(Build, "double") + ":" + Path.Combine(Build, "dotnet") + ":" + Build },
            };
            string output = Harness.RunSelf(mode + " " + Repo + " " + Build, env, check: false);
            // Indented, so that the last line of the run is its one summary.
            foreach (string line in output.Split(new[] { '\n' }, StringSplitOptions.RemoveEmptyEntries))
                Console.WriteLine("  " + line);
            string last = output.Split(new[] { '\n' }, StringSplitOptions.RemoveEmptyEntries).LastOrDefault() ?? "";
            string[] w = last.Split(' ');
            if (w.Length != 4 || w[1] != "passed,")
                throw new Exception("no summary from the child (exit " + Harness.LastExit + "): " + Harness.LastError);
            // The child's cases count here one by one; this case itself is not counted.
            Harness.Passed += int.Parse(w[0]) - 1;
            Harness.Failed += int.Parse(w[2]);
            if (Harness.LastExit != 0 && int.Parse(w[2]) == 0) throw new Exception("the child exited with " + Harness.LastExit);
        });
    }
}

/// <summary>Against the scripted XSRClient double: what the library sent for each call.</summary>
static unsafe class DoubleTests
{
    [DllImport("double_control")] static extern void dbl_reset();
    [DllImport("double_control")] static extern void dbl_push(int result, byte[] bytes, int len, int reportedLen);
    [DllImport("double_control")] static extern int dbl_command_count();
    [DllImport("double_control")] static extern int dbl_close_count();
    [DllImport("double_control")] static extern int dbl_command_body(int i, byte[] output, int cap);

    static byte[] Le32(int v) { return BitConverter.GetBytes(v); }
    static byte[] Cat(params byte[][] parts) { return parts.SelectMany(p => p).ToArray(); }
    static readonly byte[] Names = Encoding.ASCII.GetBytes("alpha\nbeta\ngamma\ndelta\nepsilon\nzeta\neta\n");

    static void Push(int result, byte[] bytes, int reported = -1) { dbl_push(result, bytes, bytes.Length, reported); }

    /// <summary>A counted name list as the module sends it: the whole length, then the bytes.</summary>
    static void PushNames(byte[] text, int announced) { Push(0, Cat(Le32(announced), text)); }

    static List<byte[]> Sent()
    {
        var r = new List<byte[]>();
        for (int i = 0; i < dbl_command_count(); ++i)
        {
            int n = dbl_command_body(i, null, 0);
            var b = new byte[Math.Max(n, 1)];
            dbl_command_body(i, b, n);
            r.Add(b.Take(n).ToArray());
        }
        return r;
    }

    /// <summary>The capacity a name-list frame carries: its last four bytes.</summary>
    static int FrameCapacity(byte[] body) { return BitConverter.ToInt32(body, body.Length - 4); }

    static OrqConnection Open()
    {
        dbl_reset();
        var c = new OrqConnection("127.0.0.1", 7300, "admin", "admin");
        dbl_reset();
        return c;
    }

    public static void Run()
    {
        Harness.Test("double: retry once with exactly the reported length", () =>
        {
            using (var c = Open())
            {
                c.AnswerSize = 16;
                PushNames(Names.Take(16).ToArray(), 40);
                PushNames(Names, 40);
                Harness.Seq(new[] { "alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta" }, Harness.Lines(c.ArNames(true)), "names");
                Harness.Seq(new[] { 16, 40 }, Sent().Select(FrameCapacity), "capacities offered");
            }
        });

        Harness.Test("double: a second -1107, or a length above the maximum, is an error", () =>
        {
            using (var c = Open())
            {
                c.AnswerSize = 16;
                PushNames(Names.Take(16).ToArray(), 40);
                PushNames(Names, 60);
                var e = Harness.Throws<OrqAnswerTooLongException>(() => c.ArNames(true), "twice");
                Harness.Equal("-1107 60 2", e.Code + " " + e.Length + " " + Sent().Count, "still too long: no third call");
                dbl_reset();
                c.MaxAnswerSize = 39;
                PushNames(Names.Take(16).ToArray(), 40);
                e = Harness.Throws<OrqAnswerTooLongException>(() => c.ArNames(true), "maximum");
                Harness.Equal("-1107 40 1", e.Code + " " + e.Length + " " + Sent().Count, "above the maximum: no retry");
            }
        });

        Harness.Test("double: retry through the library's small-buffer path", () =>
        {
            using (var c = Open())
            {
                c.AnswerSize = 50;
                byte[] answer = Enumerable.Range(0, 100).Select(i => (byte)i).ToArray();
                Push(0, answer);
                Push(0, answer);
                Harness.Seq(answer, c.SendMessage("Echo", new byte[] { 1 }), "answer");
                Harness.Equal(2, Sent().Count, "calls");
            }
        });

        Harness.Test("double: two answers retry each with its reported length", () =>
        {
            using (var c = Open())
            {
                byte[] best = Encoding.ASCII.GetBytes(new string('b', 20)), scores = Encoding.ASCII.GetBytes("sports=3,finance=1");
                byte[] reply = Cat(Le32(0), Le32(best.Length), best, Le32(scores.Length), scores, Le32(1));
                Push(0, reply);
                Push(0, reply);
                BsmResult r = c.BsmClassify(new[] { "some text" }, capacity: 8);
                Harness.Equal(new string('b', 20) + " sports=3,finance=1 True", r.Best + " " + r.Scores.Text + " " + r.Matched, "result");
                // The frames end with capacity 1, capacity 2 and the flag byte.
                Harness.Seq(new[] { "8 8", "20 " + scores.Length }, Sent().Select(b => BitConverter.ToInt32(b, b.Length - 9) + " " + BitConverter.ToInt32(b, b.Length - 5)), "capacities");
            }
        });

        Harness.Test("double: a cancel while the worker has the request in hand (-4122) cancels nothing: the answer arrives", () =>
        {
            byte[] late = Encoding.ASCII.GetBytes("late answer");
            using (var c = Open())
            {
                // The token fires while the library's worker is inside XSR_CommandEx for the
                // request: the library's cancel answers -4122 and the answer comes, so the
                // task ends with it (as a too-late cancel does in Npgsql), not as cancelled.
                using (var cts = new CancellationTokenSource())
                {
                    CaseRunner.AnswerAfter(() => cts.Cancel(), late);
                    Task<byte[]> t = c.SendAsync("Echo", new byte[] { 1 }, cts.Token);
                    Exception failed = null;
                    try
                    {
                        Harness.True(t.Wait(10000), "answered within 10 s");
                    }
                    catch (AggregateException e)
                    {
                        failed = e.InnerException;
                    }
                    Harness.True(cts.IsCancellationRequested, "the token fired during the call");
                    Harness.True(failed == null, "not cancelled: " + failed);
                    Harness.Equal("late answer", Encoding.ASCII.GetString(t.Result), "the answer");
                }
                // CancelMessage at the same stage: false, and the callback gets the answer.
                dbl_reset();
                var got = new TaskCompletionSource<OrqAsyncResult>();
                int id = 0;
                bool? cancelled = null;
                var queued = new ManualResetEventSlim();
                CaseRunner.AnswerAfter(() =>
                {
                    if (queued.Wait(10000)) cancelled = OrqConnection.CancelMessage(id);
                }, late);
                id = c.QueueMessage("Echo", new byte[] { 1 }, r => got.TrySetResult(r));
                queued.Set();
                Harness.True(got.Task.Wait(10000), "the callback ran");
                Harness.Equal(false, cancelled, "CancelMessage: not cancelled");
                Harness.True(!got.Task.Result.Cancelled, "the callback's result is the answer");
                Harness.Equal("late answer", Encoding.ASCII.GetString(got.Task.Result.Answer), "the answer");
                CaseRunner.AnswerAfter(null, late);
                dbl_reset();
            }
        });

        Harness.Test("double: failures of the client library throw their class; status words return", () =>
        {
            var cases = new Dictionary<int, Type>
            {
                { -20007, typeof(OrqTimeoutException) }, { -20006, typeof(OrqConnectionException) },
                { -20012, typeof(OrqConnectionException) }, { -20101, typeof(OrqException) }, { -1100, typeof(OrqException) },
            };
            using (var c = Open())
            {
                foreach (var kv in cases)
                {
                    dbl_reset();
                    Push(kv.Key, new byte[0], 0);
                    var x = Harness.Throws<Exception>(() => c.SendMessage("Echo", new byte[] { 1 }), "code " + kv.Key);
                    var e = (IOrqException)x;
                    Harness.Equal(kv.Value, x.GetType(), "class of " + kv.Key);
                    Harness.Equal("ORQExt_SendMessage", e.Call, "call");
                }
                dbl_reset();
                Push(7, new byte[0], 0);
                Harness.Equal(7, c.Execute("select 1"), "status word");
            }
        });

        Harness.Test("double: bad input is refused before anything is sent", () =>
        {
            using (var c = Open())
            {
                var cases = new Dictionary<string, Action>
                {
                    { "null module", () => c.SendMessage(null, new byte[] { 1 }) },
                    { "null payload", () => c.SendMessage("Echo", null) },
                    { "NUL in a module name", () => c.SendMessage("Ec\0ho", new byte[] { 1 }) },
                    { "NUL in a statement", () => c.Execute("select\0 1") },
                    { "NUL in a text", () => c.Segment("nul\0inside") },
                    { "null dictionary", () => c.DictLoad(null) },
                    { "lone surrogate", () => c.DictImport("\udc80 lone surrogate") },
                    { "cluster name too long", () => c.AddCluster(new Cluster(new string('n', 256), "t")) },
                    { "node password too long", () => c.AddCluster(new Cluster("n", "t"), new[] { new Node("s", 1, "u", new string('p', 64)) }) },
                    { "too many texts", () => c.EztcClassify(new[] { "1", "2", "3", "4", "5", "6", "7" }) },
                    { "null document", () => c.Classify(1, new Document[] { null }) },
                    { "async NUL in a target", () => c.SendAsync("Echo", new byte[] { 1 }, target: "a\0b") },
                    { "async empty payload", () => c.SendAsync("Echo", new byte[0]) },
                    { "async null callback", () => c.QueueMessage("Echo", new byte[] { 1 }, null) },
                };
                foreach (var kv in cases)
                {
                    dbl_reset();
                    Harness.Throws<ArgumentException>(kv.Value, kv.Key);
                    Harness.Equal(0, dbl_command_count(), kv.Key + ": commands sent");
                }
            }
        });

        Harness.Test("double: the handle is closed exactly once (Dispose twice, then the finalizer)", () =>
        {
            var a = Open();
            int number = a.Handle, before = dbl_close_count();
            a.Dispose();
            Harness.Equal(before + 1, dbl_close_count(), "closes after Dispose");
            // The double numbers connections from 1001 again after its reset: the next
            // connection gets the number a had, so a second close of a would close it.
            dbl_reset();
            using (var b = new OrqConnection("127.0.0.1", 7300, "admin", "admin"))
            {
                Harness.Equal(number, b.Handle, "the number given again");
                a.Dispose();
                Harness.Equal(0, dbl_close_count(), "closes after the second Dispose");
                Harness.True(b.IsAlive(), "the later connection is still open");
            }
            dbl_reset();
            DropOne();
            for (int i = 0; i < 20 && dbl_close_count() < 1; ++i)
            {
                GC.Collect();
                GC.WaitForPendingFinalizers();
            }
            Harness.Equal(1, dbl_close_count(), "closes by the finalizer");
        });
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    static void DropOne()
    {
        new OrqConnection("127.0.0.1", 7300, "admin", "admin").Handle.ToString();
    }
}
