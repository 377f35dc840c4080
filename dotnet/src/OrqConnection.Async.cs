using System;
using System.Collections.Generic;
using System.Net;
using System.Net.Sockets;
using System.Text;
using System.Threading;
using System.Threading.Tasks;

namespace ORQExtClient
{
    /// <summary>The connect string of ORQExt_ExecSql: <c>server=...;port=...;user=...;pass=...</c>.
    /// Parsed as the C library parses it: the whole string is lower-cased (ASCII capitals
    /// only, values too); each of "server=", "port=", "user=" and "pass=" is found at its
    /// first occurrence anywhere in the string and its value runs to the next ';' or the
    /// end; the port is read like C's strtoll (leading blanks, a sign, the digits up to the
    /// first other character; no digits, or a value outside 32 bits, give 0). A string
    /// without one of the four keys is refused.</summary>
    public sealed class OrqConnectionString
    {
        OrqConnectionString(string server, int port, string user, string password)
        {
            Server = server;
            Port = port;
            User = user;
            Password = password;
        }

        public string Server { get; }
        public int Port { get; }
        public string User { get; }
        public string Password { get; }

        /// <summary>Parses a connect string; ArgumentException (naming connectionString and
        /// the missing key) when one of the four keys is missing.</summary>
        public static OrqConnectionString Parse(string connectionString)
        {
            if (connectionString == null) throw new ArgumentNullException("connectionString");
            var low = new StringBuilder(connectionString.Length);
            foreach (char ch in connectionString) low.Append(ch >= 'A' && ch <= 'Z' ? (char)(ch - 'A' + 'a') : ch);
            string s = low.ToString();
            string server = Value(s, "server="), port = Value(s, "port="), user = Value(s, "user="), pass = Value(s, "pass=");
            return new OrqConnectionString(server, Port32(port), user, pass);
        }

        static string Value(string s, string key)
        {
            int at = s.IndexOf(key, StringComparison.Ordinal);
            if (at < 0)
                throw new ArgumentException("the connect string has no \"" + key + "\" (it needs server=, port=, user= and pass=)",
                                            "connectionString");
            int from = at + key.Length, end = s.IndexOf(';', from);
            return end < 0 ? s.Substring(from) : s.Substring(from, end - from);
        }

        // strtoll: blanks (space, \t \n \v \f \r), a sign, digits; saturating.
        static int Port32(string text)
        {
            int i = 0;
            while (i < text.Length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
            bool negative = false;
            if (i < text.Length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
            long value = 0;
            for (; i < text.Length && text[i] >= '0' && text[i] <= '9'; ++i)
            {
                value = value * 10 + (text[i] - '0');
                if (value > (long)int.MaxValue + 1) return 0;
            }
            if (negative) value = -value;
            return value > int.MaxValue || value < int.MinValue ? 0 : (int)value;
        }
    }

    public sealed unsafe partial class OrqConnection
#if NETSTANDARD2_1_OR_GREATER || NETCOREAPP3_0_OR_GREATER
        : IAsyncDisposable
#endif
    {
        /// <summary>The login record holds this many bytes of the server name; a longer name
        /// is resolved and connected to by its IPv4 addresses.</summary>
        public const int ServerNameLimit = Native.ORQEXT_SERVER_NAME_ROOM;

        /// <summary>Connects with a connect string (see OrqConnectionString: the keys and
        /// parsing rules of ORQExt_ExecSql).</summary>
        public OrqConnection(string connectionString, Encoding encoding = null)
            : this(OrqConnectionString.Parse(connectionString), encoding)
        {
        }

        OrqConnection(OrqConnectionString cs, Encoding encoding)
            : this(cs.Server, cs.Port, cs.User, cs.Password, encoding)
        {
        }

        /// <summary>Opens a connection from a connect string (same as the constructor).</summary>
        public static OrqConnection Open(string connectionString, Encoding encoding = null)
        {
            return new OrqConnection(connectionString, encoding);
        }

        /// <summary>Opens a connection on the thread pool; the task ends as cancelled at once
        /// when the token fires (a connection made after that is closed again).</summary>
        public static Task<OrqConnection> OpenAsync(string connectionString, CancellationToken cancellationToken = default(CancellationToken))
        {
            return OpenAsync(connectionString, null, cancellationToken);
        }

        /// <summary>Opens a connection from a connect string on the thread pool, with an encoding.</summary>
        public static Task<OrqConnection> OpenAsync(string connectionString, Encoding encoding,
                                                    CancellationToken cancellationToken = default(CancellationToken))
        {
            OrqConnectionString cs = OrqConnectionString.Parse(connectionString);
            return OpenAsync(cs.Server, cs.Port, cs.User, cs.Password, encoding, cancellationToken);
        }

        /// <summary>Connects on the thread pool (ORQExt_Connect).</summary>
        public static Task<OrqConnection> OpenAsync(string server, int port, string user, string password, Encoding encoding = null,
                                                    CancellationToken cancellationToken = default(CancellationToken))
        {
            if (cancellationToken.IsCancellationRequested) return Task.FromCanceled<OrqConnection>(cancellationToken);
            var tcs = new TaskCompletionSource<OrqConnection>(TaskCreationOptions.RunContinuationsAsynchronously);
            CancellationTokenRegistration reg = default(CancellationTokenRegistration);
            if (cancellationToken.CanBeCanceled) reg = cancellationToken.Register(() => tcs.TrySetCanceled(cancellationToken));
            Task.Run(() =>
            {
                try
                {
                    if (tcs.Task.IsCompleted) return;
                    var c = new OrqConnection(server, port, user, password, encoding);
                    if (!tcs.TrySetResult(c)) c.Dispose();
                }
                catch (Exception e)
                {
                    tcs.TrySetException(e);
                }
                finally
                {
                    reg.Dispose();
                }
            });
            return tcs.Task;
        }

        /// <summary>Runs a static call on the thread pool (ServerStatusAsync, ExecSqlAsync).</summary>
        static Task<T> PoolStatic<T>(Func<T> call, CancellationToken cancellationToken)
        {
            if (cancellationToken.IsCancellationRequested) return Task.FromCanceled<T>(cancellationToken);
            var tcs = new TaskCompletionSource<T>(TaskCreationOptions.RunContinuationsAsynchronously);
            CancellationTokenRegistration reg = default(CancellationTokenRegistration);
            if (cancellationToken.CanBeCanceled) reg = cancellationToken.Register(() => tcs.TrySetCanceled(cancellationToken));
            Task.Run(() => Complete(tcs, call, () => reg.Dispose()));
            return tcs.Task;
        }

        static void Complete<T>(TaskCompletionSource<T> tcs, Func<T> call, Action after)
        {
            try
            {
                if (!tcs.Task.IsCompleted) tcs.TrySetResult(call());
            }
            catch (Exception e)
            {
                tcs.TrySetException(e);
            }
            finally
            {
                after();
            }
        }

        // ---- requests pending on this connection ---------------------------------------

        readonly object pendingLock = new object();
        readonly Dictionary<object, Action> pending = new Dictionary<object, Action>();
        bool disposing;

        ObjectDisposedException Disposed()
        {
            return new ObjectDisposedException("OrqConnection", "the connection was disposed while the request was pending");
        }

        /// <summary>Enters a pending request with what ends it when the connection is
        /// disposed; false once Dispose has begun.</summary>
        bool Enter(object key, Action abort)
        {
            lock (pendingLock)
            {
                if (disposing) return false;
                pending[key] = abort;
                return true;
            }
        }

        void Leave(object key)
        {
            lock (pendingLock) pending.Remove(key);
        }

        /// <summary>Ends every pending request of this connection at once: its task faults
        /// with ObjectDisposedException; a request the library still holds is cancelled
        /// there, so that it is never sent with a closed handle.</summary>
        void AbortPending()
        {
            List<Action> aborts;
            lock (pendingLock)
            {
                disposing = true;
                aborts = new List<Action>(pending.Values);
                pending.Clear();
            }
            foreach (Action a in aborts)
            {
                try
                {
                    a();
                }
                catch (Exception e)
                {
                    OrqAsync.Report(0, e);
                }
            }
        }

        /// <summary>Runs a blocking call on the thread pool. The task ends at once: as
        /// cancelled when the token fires, with ObjectDisposedException when the connection
        /// is disposed; the call itself still runs to its end, and its result is dropped.</summary>
        internal Task<T> Pool<T>(Func<T> call, CancellationToken cancellationToken)
        {
            if (cancellationToken.IsCancellationRequested) return Task.FromCanceled<T>(cancellationToken);
            var tcs = new TaskCompletionSource<T>(TaskCreationOptions.RunContinuationsAsynchronously);
            if (!Enter(tcs, () => tcs.TrySetException(Disposed()))) return Task.FromException<T>(Disposed());
            CancellationTokenRegistration reg = default(CancellationTokenRegistration);
            if (cancellationToken.CanBeCanceled) reg = cancellationToken.Register(() => tcs.TrySetCanceled(cancellationToken));
            Task.Run(() => Complete(tcs, call, () =>
            {
                reg.Dispose();
                Leave(tcs);
            }));
            return tcs.Task;
        }

        /// <summary>Closes the connection: pending asynchronous requests end at once with
        /// ObjectDisposedException, then the handle is closed; a second Dispose does nothing.</summary>
        public void Dispose()
        {
            AbortPending();
            handle.Dispose();
        }

#if NETSTANDARD2_1_OR_GREATER || NETCOREAPP3_0_OR_GREATER
        /// <summary>Ends the pending requests at once (as Dispose) and closes the handle on
        /// the thread pool (the close may wait on the server).</summary>
        public ValueTask DisposeAsync()
        {
            AbortPending();
            if (handle.IsClosed) return default(ValueTask);
            return new ValueTask(Task.Run(() => handle.Dispose()));
        }
#endif

        // ---- server names longer than the login record ---------------------------------

        /// <summary>The names to try for server: itself when it fits the login record,
        /// otherwise the dotted text of each of its IPv4 addresses, in the resolver's order.</summary>
        internal static List<string> ServerNames(TextCodec codec, string server)
        {
            byte[] bytes = codec.Text(server, "server");
            if (bytes.Length - 1 <= ServerNameLimit) return new List<string> { server };
            string limit = "; the login record holds " + ServerNameLimit + " characters of the server name";
            IPAddress[] addresses;
            try
            {
                addresses = Dns.GetHostAddresses(server);
            }
            catch (SocketException e)
            {
                throw new ArgumentException("server: '" + server + "' cannot be resolved (" + e.Message + ")" + limit, "server");
            }
            var names = new List<string>();
            foreach (IPAddress a in addresses)
                if (a.AddressFamily == AddressFamily.InterNetwork && !names.Contains(a.ToString())) names.Add(a.ToString());
            if (names.Count == 0)
                throw new ArgumentException("server: '" + server + "' resolves to no IPv4 address" + limit, "server");
            return names;
        }

        /// <summary>Tries f with each name of ServerNames in turn while the server cannot be
        /// reached there (-20001 .. -20003); the last failure is thrown.</summary>
        internal static T EachServer<T>(TextCodec codec, string server, Func<string, T> f)
        {
            List<string> names = ServerNames(codec, server);
            for (int i = 0; ; ++i)
            {
                try
                {
                    return f(names[i]);
                }
                catch (OrqConnectionException e) when (i + 1 < names.Count && e.Code <= -20001 && e.Code >= -20003)
                {
                }
            }
        }
    }
}
