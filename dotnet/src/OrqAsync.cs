using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;

namespace ORQExtClient
{
    /// <summary>Reports of the asynchronous messages.</summary>
    public static class OrqAsync
    {
        /// <summary>Raised (on the thread that ran it) when a callback of QueueMessage threw:
        /// (request id, exception). The exception never reaches the library. Without a
        /// handler it is written to standard error.</summary>
        public static event Action<int, Exception> CallbackFailed;

        internal static void Report(int requestId, Exception e)
        {
            try
            {
                Action<int, Exception> handler = CallbackFailed;
                if (handler != null) handler(requestId, e);
                else Console.Error.WriteLine("ORQExtClient: exception in the callback of asynchronous request " + requestId + ": " + e);
            }
            catch (Exception)
            {
                // A failing handler must not reach the library either.
            }
        }
    }

    /// <summary>The library has one asynchronous callback for the whole process. The first
    /// send installs this dispatcher's; it hands each answer by request id to the callback
    /// given with the request. Ids are chosen here (1 .. int.MaxValue, never two alike among
    /// pending requests), so every request gets its own callback exactly once.</summary>
    internal static class AsyncDispatcher
    {
        // Kept for the life of the process: the library may call it whenever it is installed.
        static readonly Native.AsyncCallback Callback = Dispatch;
        static readonly object Lock = new object();
        static readonly Dictionary<int, Action<OrqAsyncResult>> Pending = new Dictionary<int, Action<OrqAsyncResult>>();
        static int last;
        const int NoRequest = -4122;  // ORQEXT_E_NO_REQUEST: not in the library's queue (any more)
        static bool exitHooked;

        internal static int PendingCount
        {
            get { lock (Lock) return Pending.Count; }
        }

        /// <summary>Enters the request, runs queue(id) (the library's send) and returns the id;
        /// a refused send takes the request out again and throws.</summary>
        internal static unsafe int Send(Action<OrqAsyncResult> callback, Func<int, int> queue)
        {
            int id;
            lock (Lock)
            {
                do
                {
                    last = last >= int.MaxValue ? 1 : last + 1;
                } while (Pending.ContainsKey(last));
                id = last;
                Pending.Add(id, callback);
                if (!exitHooked)
                {
                    AppDomain.CurrentDomain.ProcessExit += (s, e) => Uninstall();
                    exitHooked = true;
                }
            }
            // Installed again on every send: an unload and load of the library in between
            // forgets it.
            Native.ORQExt_SetAsyncFunc(Callback, null);
            int rc = queue(id);
            if (rc < 0)
            {
                Action<OrqAsyncResult> dropped;
                Take(id, out dropped);
                throw OrqException.For(rc, "ORQExt_AsyncSendMessage");
            }
            return id;
        }

        static bool Take(int id, out Action<OrqAsyncResult> callback)
        {
            lock (Lock)
            {
                if (!Pending.TryGetValue(id, out callback)) return false;
                Pending.Remove(id);
                return true;
            }
        }

        static void Deliver(Action<OrqAsyncResult> callback, OrqAsyncResult result)
        {
            try
            {
                callback(result);
            }
            catch (Exception e)
            {
                OrqAsync.Report(result.RequestId, e);
            }
        }

        // On the library's worker thread: nothing may unwind into the library.
        static void Dispatch(int requestId, int result, IntPtr answer, int answerLength)
        {
            try
            {
                Action<OrqAsyncResult> callback;
                if (!Take(requestId, out callback)) return;  // cancelled, or not ours
                // The answer bytes are the library's and valid during this call only.
                byte[] data = new byte[answer != IntPtr.Zero && answerLength > 0 ? answerLength : 0];
                if (data.Length > 0) Marshal.Copy(answer, data, 0, data.Length);
                Deliver(callback, new OrqAsyncResult(requestId, result, data, false));
            }
            catch (Exception e)
            {
                OrqAsync.Report(requestId, e);
            }
        }

        /// <summary>Cancels a pending request by the library's rule (docs/design.md): the
        /// library's cancel runs first; when it took the request out of its queue (any answer
        /// but -4122, whatever the server said) the request ends here as cancelled and its
        /// callback is told so on this thread. -4122 means the worker had the request in hand
        /// (sending it or delivering its answer): not cancelled, the answer reaches its callback
        /// as usual. False as well for a request that is no longer pending.</summary>
        internal static bool Cancel(int requestId)
        {
            lock (Lock)
            {
                // Ids are reused only after a wrap: never cancel another request of the same id.
                if (!Pending.ContainsKey(requestId)) return false;
            }
            int rc = Native.ORQExt_CancelAsync(0, requestId);
            if (rc == NoRequest) return false;
            Action<OrqAsyncResult> callback;
            if (!Take(requestId, out callback)) return false;
            Deliver(callback, new OrqAsyncResult(requestId, rc, new byte[0], true));
            return true;
        }

        /// <summary>At process exit: removes the callback (the library then drops every queued
        /// request without calling back) and ends the requests still pending as cancelled.</summary>
        static unsafe void Uninstall()
        {
            try
            {
                Native.ORQExt_SetAsyncFunc(null, null);
                // The worker holds its queue lock for a whole pass, callbacks included, and a
                // cancel takes that lock: once this cancel of an id never used returns, no pass
                // that could still call the removed callback is running.
                Native.ORQExt_CancelAsync(0, 0);
                List<KeyValuePair<int, Action<OrqAsyncResult>>> left;
                lock (Lock)
                {
                    left = new List<KeyValuePair<int, Action<OrqAsyncResult>>>(Pending);
                    Pending.Clear();
                }
                foreach (var p in left) Deliver(p.Value, new OrqAsyncResult(p.Key, 0, new byte[0], true));
            }
            catch (Exception)
            {
                // The library may be gone already at this point of the exit.
            }
        }
    }
}
