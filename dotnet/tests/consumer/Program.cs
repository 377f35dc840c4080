// A user's first program with the package ORQExtClient: scripts/test-dotnet.sh
// puts it into a new console project that adds the package from a local
// folder, and runs it on .NET and on Mono against xsr-sim (argument: its port).
using System;
using System.Linq;
using System.Text;
using System.Threading.Tasks;
using ORQExtClient;

static class App
{
    static int Main(string[] args)
    {
        return Run(args[0]).GetAwaiter().GetResult();
    }

    static async Task<int> Run(string port)
    {
        using (OrqConnection conn = await OrqConnection.OpenAsync("server=127.0.0.1;port=" + port + ";user=admin;pass=admin"))
        {
            byte[] ident = await conn.SendMessageAsync("Ident", Encoding.UTF8.GetBytes("?"));
            var words = (await conn.SegmentAsync("moved to Paris")).Select(t => t.Word);
            Console.WriteLine(Encoding.UTF8.GetString(ident) + " " + string.Join("|", words));
        }
        return 0;
    }
}
