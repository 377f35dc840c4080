using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;
using System.Threading.Tasks;

namespace ORQExtClient
{
    /// <summary>The library's handle of one connection: closed exactly once, by Dispose or,
    /// for a connection nobody disposed, by the finalizer.</summary>
    internal sealed class OrqConnectionHandle : SafeHandle
    {
        internal OrqConnectionHandle(int handle) : base(IntPtr.Zero, true)
        {
            SetHandle(new IntPtr(handle));
        }

        public override bool IsInvalid
        {
            get { return handle == IntPtr.Zero; }
        }

        /// <summary>The result of the one ORQExt_DisConnect (0 until it ran).</summary>
        internal int CloseResult { get; private set; }

        protected override bool ReleaseHandle()
        {
            CloseResult = Native.ORQExt_DisConnect(handle.ToInt32());
            return true;
        }
    }

    /// <summary>An open connection to the search server's extension-module layer. Dispose it
    /// (using) when done; calls on a disposed connection throw ObjectDisposedException.
    ///
    /// Texts are encoded with the connection's Encoding (UTF-8 unless given) and checked
    /// before anything is sent: null where a text is required, a NUL inside a text, and a
    /// text too long for its fixed field are refused with ArgumentNullException or
    /// ArgumentException. Answers into buffers size themselves: a call starts with
    /// AnswerSize bytes; when the library answers -1107 with the whole answer's length, the
    /// call is made once more with a buffer of exactly that length (at most MaxAnswerSize);
    /// a second -1107, or a length above the maximum, throws OrqAnswerTooLongException. The
    /// retry runs the call on the server a second time.</summary>
    public sealed unsafe partial class OrqConnection : IDisposable
    {
        public const int DefaultAnswerSize = 64 * 1024;
        public const int DefaultMaxAnswerSize = 64 * 1024 * 1024;

        readonly OrqConnectionHandle handle;
        readonly TextCodec codec;
        int answerSize = DefaultAnswerSize;
        int maxAnswerSize = DefaultMaxAnswerSize;

        /// <summary>Connects to server:port with user and password (ORQExt_Connect). A server
        /// name longer than the login record's 15 characters is resolved, and each of its
        /// IPv4 addresses is tried in turn.</summary>
        public OrqConnection(string server, int port, string user, string password, Encoding encoding = null)
        {
            codec = new TextCodec(encoding);
            byte[] u = codec.Text(user, "user"), p = codec.Text(password, "password");
            handle = EachServer(codec, server, name => Connect(codec.Text(name, "server"), port, u, p));
        }

        static OrqConnectionHandle Connect(byte[] s, int port, byte[] u, byte[] p)
        {
            int status = 0, h;
            fixed (byte* ps = s, pu = u, pp = p)
                h = Native.ORQExt_Connect(ps, port, pu, pp, &status);
            var opened = new OrqConnectionHandle(h);
            if (status < 0 || h == 0)
            {
                opened.Dispose();
                throw OrqException.For(status < 0 ? status : -1100, "ORQExt_Connect");
            }
            return opened;
        }

        public Encoding Encoding { get { return codec.Encoding; } }

        /// <summary>The buffer size the self-sizing calls start with (1 .. int.MaxValue).</summary>
        public int AnswerSize
        {
            get { return answerSize; }
            set
            {
                if (value < 1) throw new ArgumentOutOfRangeException("value", "AnswerSize must be 1 or more");
                answerSize = value;
            }
        }

        /// <summary>The largest buffer a retry may ask for.</summary>
        public int MaxAnswerSize
        {
            get { return maxAnswerSize; }
            set
            {
                if (value < 1) throw new ArgumentOutOfRangeException("value", "MaxAnswerSize must be 1 or more");
                maxAnswerSize = value;
            }
        }

        /// <summary>The library's connection handle; 0 once closed.</summary>
        public int Handle { get { return handle.IsClosed ? 0 : handle.DangerousGetHandle().ToInt32(); } }

        public bool IsClosed { get { return handle.IsClosed; } }

        /// <summary>True while the client library reports the connection alive.</summary>
        public bool IsAlive()
        {
            return !handle.IsClosed && Run(h => Native.ORQExt_IsConnect(h)) != 0;
        }

        // ---- shared helpers -------------------------------------------------

        internal TextCodec Codec { get { return codec; } }

        /// <summary>Runs f with the handle kept open for the call's duration.</summary>
        internal int Run(Func<int, int> f)
        {
            bool added = false;
            try
            {
                handle.DangerousAddRef(ref added);
                return f(handle.DangerousGetHandle().ToInt32());
            }
            finally
            {
                if (added) handle.DangerousRelease();
            }
        }

        /// <summary>Runs f and throws the exception of a negative result.</summary>
        internal int Call(string name, Func<int, int> f)
        {
            return OrqException.Check(Run(f), name);
        }

        internal byte[] T(string value, string param, bool optional = false)
        {
            return codec.Text(value, param, optional);
        }

        internal delegate int BufferCall(int conn, byte* buffer, int* length);
        internal delegate int TwoBufferCall(int conn, byte* a, int* lengthA, byte* b, int* lengthB);

        static byte[] Head(byte[] buffer, int length, int capacity)
        {
            int n = Math.Max(0, Math.Min(length, capacity));
            if (n == buffer.Length) return buffer;
            byte[] r = new byte[n];
            Buffer.BlockCopy(buffer, 0, r, 0, n);
            return r;
        }

        /// <summary>Runs f under the self-sizing rule; returns the answer bytes.</summary>
        internal byte[] Sized(string name, BufferCall f, int capacity = 0)
        {
            int cap = capacity > 0 ? capacity : answerSize;
            for (int attempt = 1; ; ++attempt)
            {
                byte[] buf = new byte[cap];
                var length = new[] { cap };
                int rc = Run(h =>
                {
                    fixed (byte* b = buf)
                    fixed (int* n = length)
                        return f(h, b, n);
                });
                if (rc != -1107)
                {
                    OrqException.Check(rc, name);
                    return Head(buf, length[0], cap);
                }
                int whole = length[0];
                if (attempt == 2 || whole <= cap)
                    throw new OrqAnswerTooLongException(-1107, name, attempt == 2 ? "still too long after a retry" : null, whole);
                if (whole > maxAnswerSize)
                    throw new OrqAnswerTooLongException(-1107, name, "the answer has " + whole + " bytes, above the maximum answer size " + maxAnswerSize, whole);
                cap = whole;
            }
        }

        /// <summary>The self-sizing rule for calls with two answers: -1107 retries once with
        /// each answer's reported length where it is longer. capB 0: no second buffer.</summary>
        internal byte[][] TwoSized(string name, TwoBufferCall f, int capA, int capB)
        {
            for (int attempt = 1; ; ++attempt)
            {
                byte[] a = new byte[Math.Max(capA, 1)], b = new byte[Math.Max(capB, 1)];
                var ls = new[] { capA, capB };
                int rc = Run(h =>
                {
                    fixed (byte* pa = a, pb = b)
                    fixed (int* pl = ls)
                        return f(h, pa, pl, capB > 0 ? pb : null, pl + 1);
                });
                if (rc != -1107)
                {
                    OrqException.Check(rc, name);
                    return new[] { Head(a, ls[0], capA), Head(b, ls[1], capB) };
                }
                int la = ls[0], lb = ls[1];
                int needA = Math.Max(capA, la), needB = Math.Max(capB, lb);
                if (attempt == 2 || (needA == capA && needB == capB))
                    throw new OrqAnswerTooLongException(-1107, name, attempt == 2 ? "still too long after a retry" : null, Math.Max(la, lb));
                if (Math.Max(needA, needB) > maxAnswerSize)
                    throw new OrqAnswerTooLongException(-1107, name, "above the maximum answer size", Math.Max(needA, needB));
                capA = needA;
                capB = needB;
            }
        }

        // ---- server probe and one-off statements ----------------------------

        /// <summary>Probes a server address; returns the (non-negative) status.</summary>
        public static int ServerStatus(string server, int port, Encoding encoding = null)
        {
            var codec = new TextCodec(encoding);
            return EachServer(codec, server, name =>
            {
                byte[] s = codec.Text(name, "server");
                fixed (byte* ps = s)
                    return OrqException.Check(Native.ORQExt_GetServerStatus(ps, port), "ORQExt_GetServerStatus");
            });
        }

        static string ConnectValue(TextCodec codec, string value, string param)
        {
            codec.Text(value, param);
            if (value.IndexOf(';') >= 0 || value.IndexOf('=') >= 0)
                throw new ArgumentException("';' and '=' cannot be given in a connect string", param);
            return value;
        }

        /// <summary>Runs a statement on a connection opened for it alone (ORQExt_ExecSql);
        /// returns the server's status.</summary>
        public static int ExecSql(string statement, string server, int port, string user, string password, Encoding encoding = null)
        {
            var codec = new TextCodec(encoding);
            ConnectValue(codec, server, "server");
            string rest = ";port=" + port + ";user=" + ConnectValue(codec, user, "user") + ";pass=" + ConnectValue(codec, password, "password");
            byte[] st = codec.Text(statement, "statement");
            return EachServer(codec, server, name =>
            {
                byte[] c = codec.Text("server=" + name + rest, "connect string");
                fixed (byte* pc = c, ps = st)
                    return OrqException.Check(Native.ORQExt_ExecSql(pc, ps), "ORQExt_ExecSql");
            });
        }

        // ---- messages and statements ----------------------------------------

        byte[] Payload(byte[] payload)
        {
            if (payload == null) throw new ArgumentNullException("payload");
            return payload;
        }

        /// <summary>Sends a message to a module and returns its answer (ORQExt_SendMessage).</summary>
        public byte[] SendMessage(string module, byte[] payload, string target = null)
        {
            byte[] m = T(module, "module"), t = T(target, "target", true), p = Payload(payload);
            return Sized("ORQExt_SendMessage", (h, b, n) =>
            {
                fixed (byte* pm = m, pt = t, pp = p)
                    return Native.ORQExt_SendMessage(h, pm, pt, pp, p.Length, b, n);
            });
        }

        /// <summary>Sends a message and gives up after limit (OrqTimeoutException); with
        /// cancelOnTimeout the pending answer is cancelled then (ORQExt_SendMessageTimeOut).
        /// Timeout.InfiniteTimeSpan waits as long as the plain SendMessage.</summary>
        public byte[] SendMessage(string module, byte[] payload, TimeSpan limit, bool cancelOnTimeout = false, string target = null)
        {
            if (limit == Timeout.InfiniteTimeSpan) return SendMessage(module, payload, target);
            double ms = Math.Round(limit.TotalMilliseconds);
            if (ms < 0 || ms > int.MaxValue)
                throw new ArgumentOutOfRangeException("limit", "the time limit must be 0 .. int.MaxValue ms");
            byte[] m = T(module, "module"), t = T(target, "target", true), p = Payload(payload);
            int limitMs = (int)ms, cancel = cancelOnTimeout ? 1 : 0;
            return Sized("ORQExt_SendMessageTimeOut", (h, b, n) =>
            {
                fixed (byte* pm = m, pt = t, pp = p)
                    return Native.ORQExt_SendMessageTimeOut(h, pm, pt, pp, p.Length, b, n, limitMs, cancel);
            });
        }

        int Queue(string module, byte[] payload, string target, int answerCapacity, Action<OrqAsyncResult> callback)
        {
            byte[] m = T(module, "module"), t = T(target, "target", true), p = Payload(payload);
            if (p.Length == 0) throw new ArgumentException("the payload must not be empty", "payload");
            if (answerCapacity < 1 || answerCapacity > 268435456)
                throw new ArgumentOutOfRangeException("answerCapacity", "1 .. 268435456");
            return Run(h => AsyncDispatcher.Send(callback, id =>
            {
                fixed (byte* pm = m, pt = t, pp = p)
                    return Native.ORQExt_AsyncSendMessage(h, pm, pt, pp, p.Length, id, answerCapacity);
            }));
        }

        /// <summary>Queues a message (ORQExt_AsyncSendMessage); the library's worker thread
        /// sends it and calls callback on that thread, exactly once: with the answer, or
        /// Cancelled after CancelMessage or when the connection is disposed while the library
        /// still held it (one the worker had in hand already gets its answer). Returns the request id. An exception the callback
        /// throws is caught there and reported through OrqAsync.CallbackFailed.</summary>
        public int QueueMessage(string module, byte[] payload, Action<OrqAsyncResult> callback, string target = null,
                                int answerCapacity = DefaultAnswerSize)
        {
            if (callback == null) throw new ArgumentNullException("callback");
            var key = new object();
            int id = Queue(module, payload, target, answerCapacity, r =>
            {
                Leave(key);
                callback(r);
            });
            Action abort = () => AsyncDispatcher.Cancel(id);
            if (!Enter(key, abort)) abort();
            return id;
        }

        /// <summary>Cancels a queued request (ORQExt_CancelAsync): true when the library took
        /// it out of its queue (its callback then gets Cancelled on this thread), false when
        /// it was answered or cancelled already, or the worker had it in hand (-4122: its
        /// answer reaches the callback as usual).</summary>
        public static bool CancelMessage(int requestId)
        {
            return AsyncDispatcher.Cancel(requestId);
        }

        /// <summary>Sends a message through the library's asynchronous messages. The task
        /// completes once: with the answer, with the exception of a failed answer, as
        /// cancelled when cancellationToken fires while the library still holds the request
        /// (its cancel takes it out; a request the worker has in hand already, -4122, ends with
        /// its answer as the library's rule says), or
        /// at once with ObjectDisposedException when the connection is disposed first. The
        /// answer comes after the library worker's next pass (about 200 ms).
        /// Continuations do not run on the library's worker thread.</summary>
        public Task<byte[]> SendAsync(string module, byte[] payload, CancellationToken cancellationToken = default(CancellationToken),
                                      string target = null, int answerCapacity = DefaultAnswerSize)
        {
            return SendAsync(module, payload, cancellationToken, target, answerCapacity, null);
        }

        Task<byte[]> SendAsync(string module, byte[] payload, CancellationToken cancellationToken, string target,
                               int answerCapacity, Action<int> queued)
        {
            var tcs = new TaskCompletionSource<byte[]>(TaskCreationOptions.RunContinuationsAsynchronously);
            Action<OrqAsyncResult> done = r =>
            {
                Leave(tcs);
                if (r.Cancelled) tcs.TrySetCanceled(cancellationToken);
                else if (r.Code < 0) tcs.TrySetException(r.Error());
                else tcs.TrySetResult(r.Answer);
            };
            if (cancellationToken.IsCancellationRequested)
            {
                // Checked before anything is queued, after the arguments.
                T(module, "module");
                T(target, "target", true);
                Payload(payload);
                return Task.FromCanceled<byte[]>(cancellationToken);
            }
            int id = Queue(module, payload, target, answerCapacity, done);
            if (queued != null) queued(id);
            Action abort = () =>
            {
                tcs.TrySetException(Disposed());
                AsyncDispatcher.Cancel(id);
            };
            if (!Enter(tcs, abort)) abort();
            if (cancellationToken.CanBeCanceled)
            {
                // The token's callback asks the library to cancel; the task ends as cancelled
                // only when the library took the request out (-4122: the answer comes). The
                // registration is disposed on the pool, never on the library's worker: a
                // Dispose there would wait for a cancel that waits for the worker's pass.
                CancellationTokenRegistration registration = cancellationToken.Register(() => AsyncDispatcher.Cancel(id));
                tcs.Task.ContinueWith(t => registration.Dispose(), CancellationToken.None,
                                      TaskContinuationOptions.None, TaskScheduler.Default);
            }
            return tcs.Task;
        }

        /// <summary>SendAsync with a time limit: with no answer within limit the request is
        /// cancelled in the library (a pending answer is cancelled on the server) and the task
        /// faults with OrqTimeoutException -1113, as the synchronous SendMessage with a limit
        /// and cancelOnTimeout, Python's AsyncConnection.send(timeout=) and the C++
        /// async_options::time_limit end; an answer that comes later is dropped.
        /// Timeout.InfiniteTimeSpan is no limit; another negative limit is refused
        /// (ArgumentOutOfRangeException) before anything is queued.</summary>
        public Task<byte[]> SendAsync(string module, byte[] payload, TimeSpan limit,
                                      CancellationToken cancellationToken = default(CancellationToken),
                                      string target = null, int answerCapacity = DefaultAnswerSize)
        {
            if (limit == Timeout.InfiniteTimeSpan) return SendAsync(module, payload, cancellationToken, target, answerCapacity);
            if (limit < TimeSpan.Zero || limit.TotalMilliseconds > int.MaxValue)
                throw new ArgumentOutOfRangeException("limit", "0 .. int.MaxValue ms, or Timeout.InfiniteTimeSpan");
            int id = 0;
            var timedOut = new TaskCompletionSource<byte[]>(TaskCreationOptions.RunContinuationsAsynchronously);
            Task<byte[]> sent = SendAsync(module, payload, cancellationToken, target, answerCapacity, r => id = r);
            var timer = new Timer(_ =>
            {
                if (timedOut.TrySetException(new OrqTimeoutException(-1113, "asynchronous message",
                                                                     "no answer within " + limit.TotalMilliseconds + " ms; the request was cancelled")))
                    AsyncDispatcher.Cancel(id);
            }, null, Timeout.Infinite, Timeout.Infinite);
            sent.ContinueWith(t =>
            {
                timer.Dispose();
                if (t.IsCanceled) timedOut.TrySetCanceled(cancellationToken);
                else if (t.IsFaulted) timedOut.TrySetException(t.Exception.InnerExceptions);
                else timedOut.TrySetResult(t.Result);
            }, CancellationToken.None, TaskContinuationOptions.ExecuteSynchronously, TaskScheduler.Default);
            timer.Change(limit, Timeout.InfiniteTimeSpan);
            return timedOut.Task;
        }

        /// <summary>Runs a statement on this connection (ORQExt_ExecSql2).</summary>
        public int Execute(string statement)
        {
            byte[] s = T(statement, "statement");
            return Call("ORQExt_ExecSql2", h => { fixed (byte* p = s) return Native.ORQExt_ExecSql2(h, p); });
        }

        /// <summary>Sends an extension statement's free text to the module's statement
        /// process (ORQExt_QuerySqlProcess).</summary>
        public int StatementProcess(string statement)
        {
            byte[] s = T(statement, "statement");
            return Call("ORQExt_QuerySqlProcess", h => { fixed (byte* p = s) return Native.ORQExt_QuerySqlProcess(h, p); });
        }

        // ---- module administration ------------------------------------------

        public int RegisterModule(string module, string version = null, bool autostart = false, string fileRef = null,
                                  string cmdParam = null, string desc = null, string dependFiles = null)
        {
            byte[] m = T(module, "module"), v = T(version, "version", true), f = T(fileRef, "fileRef", true),
                   c = T(cmdParam, "cmdParam", true), d = T(desc, "desc", true), df = T(dependFiles, "dependFiles", true);
            return Call("ORQExt_RegExtMod", h =>
            {
                fixed (byte* pm = m, pv = v, pf = f, pc = c, pd = d, pdf = df)
                    return Native.ORQExt_RegExtMod(h, pm, pv, (byte)(autostart ? 1 : 0), pf, pc, pd, pdf);
            });
        }

        delegate int ModuleCall(int conn, byte* module, byte* version);

        int Module(string name, ModuleCall f, string module, string version)
        {
            byte[] m = T(module, "module"), v = T(version, "version", true);
            return Call(name, h => { fixed (byte* pm = m, pv = v) return f(h, pm, pv); });
        }

        public int UnregisterModule(string module, string version = null)
        {
            return Module("ORQExt_UnRegExtMod", Native.ORQExt_UnRegExtMod, module, version);
        }

        public int StartModule(string module, string version = null)
        {
            return Module("ORQExt_LoadExtMod", Native.ORQExt_LoadExtMod, module, version);
        }

        public int StopModule(string module, string version = null)
        {
            return Module("ORQExt_UnloadExtMod", Native.ORQExt_UnloadExtMod, module, version);
        }

        // The three queries answer text; one terminating NUL is not part of it.
        public string ModuleInfo(string module, string secondName = null)
        {
            byte[] m = T(module, "module"), s = T(secondName, "secondName", true);
            return codec.UpToNul(Sized("ORQExt_GetModInfo", (h, b, n) =>
            {
                fixed (byte* pm = m, ps = s)
                    return Native.ORQExt_GetModInfo(h, pm, ps, b, n);
            }));
        }

        public string ModuleList()
        {
            return codec.UpToNul(Sized("ORQExt_GetModInfos", (h, b, n) => Native.ORQExt_GetModInfos(h, b, n)));
        }

        public string ExtensionVersion()
        {
            return codec.UpToNul(Sized("ORQExt_GetExtVersion", (h, b, n) => Native.ORQExt_GetExtVersion(h, b, n)));
        }

        // ---- cluster routing --------------------------------------------------

        public bool ClusterEnabled
        {
            get { return Run(h => Native.ORQExt_IsClusterEnable(h)) != 0; }
        }

        /// <summary>Switches routing to cluster nodes on (reloading the cluster description) or off.</summary>
        public int EnableCluster(bool on = true)
        {
            return Call("ORQExt_EnableCluster", h => Native.ORQExt_EnableCluster(h, (byte)(on ? 1 : 0)));
        }

        public int RefreshCluster()
        {
            return Call("ORQExt_UpdateCluster", h => Native.ORQExt_UpdateCluster(h));
        }

        /// <summary>The record of a cluster, as a one-element array the calls pin.</summary>
        ClusterInfo[] ClusterRecord(Cluster c)
        {
            if (c == null) throw new ArgumentNullException("cluster");
            var r = new ClusterInfo[1];
            fixed (ClusterInfo* p = r)
            {
                codec.Fixed(c.Name, p->name, 256, "cluster name");
                codec.Fixed(c.Tag, p->tag, 16, "cluster tag");
                codec.Fixed(c.AttrA, p->attr_a, 32, "cluster attrA");
                codec.Fixed(c.AttrB, p->attr_b, 128, "cluster attrB");
            }
            return r;
        }

        Cluster ClusterOf(ref ClusterInfo r)
        {
            fixed (ClusterInfo* p = &r)
                return new Cluster(codec.FromFixed(p->name, 256), codec.FromFixed(p->tag, 16),
                                   codec.FromFixed(p->attr_a, 32), codec.FromFixed(p->attr_b, 128));
        }

        Node NodeOf(ref NodeInfo r)
        {
            fixed (NodeInfo* p = &r)
                return new Node(codec.FromFixed(p->server, 20), p->port, codec.FromFixed(p->user, 128),
                                codec.FromFixed(p->pass, 64), codec.FromFixed(p->attr, 128));
        }

        /// <summary>Adds a cluster (no nodes) or nodes to a cluster on the server.</summary>
        public int AddCluster(Cluster cluster, IEnumerable<Node> nodes = null)
        {
            ClusterInfo[] rec = ClusterRecord(cluster);
            var list = nodes == null ? new List<Node>() : new List<Node>(nodes);
            var arr = new NodeInfo[Math.Max(list.Count, 1)];
            for (int i = 0; i < list.Count; ++i)
            {
                Node n = list[i];
                if (n == null) throw new ArgumentNullException("nodes");
                fixed (NodeInfo* p = &arr[i])
                {
                    codec.Fixed(n.Server, p->server, 20, "node server");
                    p->port = n.Port;
                    codec.Fixed(n.User, p->user, 128, "node user");
                    codec.Fixed(n.Password, p->pass, 64, "node password");
                    codec.Fixed(n.Attr, p->attr, 128, "node attr");
                }
            }
            return Call("ORQExt_AddClusterInfo", h =>
            {
                fixed (NodeInfo* pn = arr)
                fixed (ClusterInfo* pr = rec)
                    return Native.ORQExt_AddClusterInfo(h, pr, list.Count > 0 ? pn : null, list.Count);
            });
        }

        /// <summary>Deletes a cluster, or with node ("server" or "server:port") those of its nodes.</summary>
        public int DeleteCluster(string name, string tag, string node = null)
        {
            ClusterInfo[] rec = ClusterRecord(new Cluster(name, tag));
            byte[] n = T(node, "node", true);
            return Call("ORQExt_DelClusterInfo", h => { fixed (byte* pn = n) fixed (ClusterInfo* pr = rec) return Native.ORQExt_DelClusterInfo(h, pr, pn); });
        }

        public int ClusterCount()
        {
            return Call("ORQExt_GetClusterCount", h => Native.ORQExt_GetClusterCount(h));
        }

        /// <summary>The clusters of the description (reloaded first).</summary>
        public IList<Cluster> Clusters()
        {
            int cap = Math.Max(ClusterCount(), 1);
            while (true)
            {
                var arr = new ClusterInfo[cap];
                var count = new[] { cap };
                int got = Call("ORQExt_GetClusterInfo", h => { fixed (ClusterInfo* p = arr) fixed (int* pc = count) return Native.ORQExt_GetClusterInfo(h, p, pc); });
                if (got < cap)
                {
                    var r = new List<Cluster>();
                    for (int i = 0; i < got; ++i) r.Add(ClusterOf(ref arr[i]));
                    return r;
                }
                cap *= 2;
            }
        }

        public Cluster Cluster(string name, string tag)
        {
            ClusterInfo[] rec = ClusterRecord(new Cluster(name, tag));
            Call("ORQExt_GetClusterInfoByName", h => { fixed (ClusterInfo* pr = rec) return Native.ORQExt_GetClusterInfoByName(h, pr); });
            return ClusterOf(ref rec[0]);
        }

        /// <summary>The nodes of the cluster (name, tag); empty when there is none.</summary>
        public IList<Node> Nodes(string name, string tag)
        {
            ClusterInfo[] rec = ClusterRecord(new Cluster(name, tag));
            int cap = Math.Max(Call("ORQExt_GetClusterNodeCount", h => { fixed (ClusterInfo* pr = rec) return Native.ORQExt_GetClusterNodeCount(h, pr); }), 1);
            while (true)
            {
                var arr = new NodeInfo[cap];
                var count = new[] { cap };
                int got = Call("ORQExt_GetNodeInfo", h => { fixed (NodeInfo* p = arr) fixed (ClusterInfo* pr = rec) fixed (int* pc = count) return Native.ORQExt_GetNodeInfo(h, pr, p, pc); });
                if (got < cap)
                {
                    var r = new List<Node>();
                    for (int i = 0; i < got; ++i) r.Add(NodeOf(ref arr[i]));
                    return r;
                }
                cap *= 2;
            }
        }
    }
}
