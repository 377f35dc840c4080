// Segments and classifies a few documents through ORQExtClient from C#, then
// sends one message synchronously with a time limit and one asynchronously.
//
// Build and run with Mono (or add it to a project that references the
// ORQExtClient.Net assembly, dotnet/ORQExtClient.Net.csproj):
//
//     mcs -r:ORQExtClient.Net.dll examples/SegmentClassify.cs -out:SegmentClassify.exe
//     build/release/sim/xsr-sim --port 7300 &
//     mono SegmentClassify.exe 127.0.0.1 7300 admin admin
//
// The text analysis module "KExt_NLPE" and the text mining module "KExt_STM"
// are registered and started when the server does not run them yet.
using System;
using System.Linq;
using System.Text;
using System.Threading;
using System.Threading.Tasks;
using ORQExtClient;

static class SegmentClassify
{
    static readonly string[] Documents =
    {
        "The football match in New York ended with three goals.",
        "Stock markets in Hong Kong fell as the bank raised interest rates.",
        "A new vaccine helps patients with a rare disease.",
    };

    // Registers (with autostart) or starts the module when it is not running.
    static void EnsureStarted(OrqConnection conn, string module)
    {
        var state = conn.ModuleList().Split('\n').Select(line => line.Split('\t')).Where(row => row.Length > 2)
                        .ToDictionary(row => row[0].ToLowerInvariant(), row => row[2]);
        string current;
        if (!state.TryGetValue(module.ToLowerInvariant(), out current))
            conn.RegisterModule(module, autostart: true);
        else if (current != "started")
            conn.StartModule(module);
    }

    static async Task Run(string host, int port, string user, string password)
    {
        using (var conn = new OrqConnection(host, port, user, password))
        {
            foreach (string module in new[] { "KExt_NLPE", "KExt_STM" })
                EnsureStarted(conn, module);

            // Words of a loaded dictionary stay one word: "New York", "Hong Kong".
            conn.DictImport("places: new york, hong kong");
            conn.DictLoad("places");
            for (int number = 0; number < Documents.Length; ++number)
            {
                var words = conn.Segment(Documents[number]).Select(token => token.Word).ToList();
                Console.WriteLine("document {0}: {1} words: {2}", number, words.Count, string.Join(" | ", words));
            }

            // One classifier (handle 1) classifies the whole batch.
            conn.ClassifierInit(1);
            try
            {
                // The module's answer as it came; its lines are the module's own layout.
                ServerAnswer classified = conn.Classify(1, OrqConnection.Numbered(Documents));
                foreach (string line in classified.Text.Split(new[] { '\n' }, StringSplitOptions.RemoveEmptyEntries))
                    Console.WriteLine("classified: {0}", line.Replace('\t', ' '));
            }
            finally
            {
                conn.ClassifierShutdown(1);
            }

            byte[] answer = conn.SendMessage("Echo", Encoding.UTF8.GetBytes("hello"), TimeSpan.FromSeconds(5));
            Console.WriteLine("send to Echo: {0}", Encoding.UTF8.GetString(answer));

            // The answer comes through the library's worker thread; the token would cancel it.
            using (var cancel = new CancellationTokenSource(TimeSpan.FromSeconds(30)))
            {
                byte[] later = await conn.SendAsync("Echo", Encoding.UTF8.GetBytes("async hello"), cancel.Token);
                Console.WriteLine("async answer: {0}", Encoding.UTF8.GetString(later));
            }
        }
    }

    static int Main(string[] args)
    {
        try
        {
            Run(args.Length > 0 ? args[0] : "127.0.0.1", args.Length > 1 ? int.Parse(args[1]) : 7300,
                args.Length > 2 ? args[2] : "admin", args.Length > 3 ? args[3] : "admin").GetAwaiter().GetResult();
            return 0;
        }
        catch (OrqException e)
        {
            Console.Error.WriteLine("SegmentClassify: " + e.Message);
            return 1;
        }
    }
}
