// The .NET runner of the shared table of cases (tests/cases/*.json, the format in
// tests/cases/README.md): every case runs against the scripted XSRClient double, so it
// runs in the double's child process (OrqTests.exe cases REPO BUILD). The folder is
// ORQ_CASES or REPO/tests/cases; without it the runner says so and runs nothing.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;
using System.Threading.Tasks;
using ORQExtClient;

/// <summary>A small JSON reader: objects as Dictionary, arrays as List, numbers as
/// double, strings, bools and null.</summary>
static class Json
{
    public static object Parse(string s)
    {
        int i = 0;
        object v = Value(s, ref i);
        Blank(s, ref i);
        if (i != s.Length) throw new FormatException("JSON: text after the value at " + i);
        return v;
    }

    static void Blank(string s, ref int i)
    {
        while (i < s.Length && char.IsWhiteSpace(s[i])) ++i;
    }

    static object Value(string s, ref int i)
    {
        Blank(s, ref i);
        if (i >= s.Length) throw new FormatException("JSON: value expected at the end");
        char c = s[i];
        if (c == '{')
        {
            var o = new Dictionary<string, object>();
            ++i;
            Blank(s, ref i);
            if (s[i] == '}') { ++i; return o; }
            for (;;)
            {
                Blank(s, ref i);
                string k = Str(s, ref i);
                Blank(s, ref i);
                Expect(s, ref i, ':');
                o[k] = Value(s, ref i);
                Blank(s, ref i);
                if (s[i] == ',') { ++i; continue; }
                Expect(s, ref i, '}');
                return o;
            }
        }
        if (c == '[')
        {
            var a = new List<object>();
            ++i;
            Blank(s, ref i);
            if (s[i] == ']') { ++i; return a; }
            for (;;)
            {
                a.Add(Value(s, ref i));
                Blank(s, ref i);
                if (s[i] == ',') { ++i; continue; }
                Expect(s, ref i, ']');
                return a;
            }
        }
        if (c == '"') return Str(s, ref i);
        foreach (var w in new[] { new KeyValuePair<string, object>("true", true), new KeyValuePair<string, object>("false", false),
                                  new KeyValuePair<string, object>("null", null) })
            if (string.CompareOrdinal(s, i, w.Key, 0, w.Key.Length) == 0) { i += w.Key.Length; return w.Value; }
        int from = i;
        while (i < s.Length && "+-0123456789.eE".IndexOf(s[i]) >= 0) ++i;
        if (from == i) throw new FormatException("JSON: unexpected '" + c + "' at " + i);
        return double.Parse(s.Substring(from, i - from), CultureInfo.InvariantCulture);
    }

    static void Expect(string s, ref int i, char c)
    {
        if (i >= s.Length || s[i] != c) throw new FormatException("JSON: '" + c + "' expected at " + i);
        ++i;
    }

    static string Str(string s, ref int i)
    {
        Expect(s, ref i, '"');
        var b = new StringBuilder();
        while (s[i] != '"')
        {
            char c = s[i++];
            if (c != '\\') { b.Append(c); continue; }
            char e = s[i++];
            switch (e)
            {
                case 'n': b.Append('\n'); break;
                case 't': b.Append('\t'); break;
                case 'r': b.Append('\r'); break;
                case 'b': b.Append('\b'); break;
                case 'f': b.Append('\f'); break;
                case 'u': b.Append((char)int.Parse(s.Substring(i, 4), NumberStyles.HexNumber)); i += 4; break;
                default: b.Append(e); break;
            }
        }
        ++i;
        return b.ToString();
    }
}

static class CaseRunner
{
    [DllImport("double_control")] static extern void dbl_reset();
    [DllImport("double_control")] static extern void dbl_push(int result, byte[] bytes, int len, int reportedLen);
    [DllImport("double_control")] static extern int dbl_command_count();
    [DllImport("double_control")] static extern int dbl_command_code(int i);
    [DllImport("double_control")] static extern int dbl_command_capacity(int i);
    [DllImport("double_control")] static extern int dbl_command_body(int i, byte[] output, int cap);

    /// <summary>Why this layer cannot run the case, or null.</summary>
    static string Inexpressible(object cs)
    {
        string why = (string)At(At(cs, "skip"), "dotnet");
        return why;
    }

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void Touch();
    [DllImport("double_control")] static extern void dbl_answer_after(Touch touch, byte[] bytes, int len);
    [DllImport("double_control")] static extern void dbl_hold(int hold, int t0, int t1, int cancelResult, byte[] cancelBytes, int cancelLen, Touch touch);
    // The double calls it on the library's worker: kept alive for the whole run.
    static readonly Touch touch = () => { Action a = onCall; if (a != null) a(); };
    static Action onCall;

    /// <summary>From now on the double answers each unscripted XSR_CommandEx with result 0
    /// and these bytes after running act inside the call (on the library's worker, for an
    /// asynchronous message); dbl_reset ends it.</summary>
    internal static void AnswerAfter(Action act, byte[] bytes)
    {
        onCall = act;
        dbl_answer_after(touch, bytes, bytes.Length);
    }

    /// <summary>The cancel rule at a stage: "queued" cancels the request from inside the
    /// call of another one the worker has in hand (so it was never sent); "pending" once
    /// the library polled for it (the double keeps the last "pending" of the replies at
    /// every poll); "answered" cancels after its callback ran.</summary>
    static void RunCancel(OrqConnection c, object args, object expect, object replies)
    {
        string stage = (string)At(args, "stage"), module = Text(args, "module");
        byte[] payload = Payload(args);
        var got = new TaskCompletionSource<OrqAsyncResult>();
        byte[] cancelReply = Has(args, "cancel_reply") ? Bytes(At(At(args, "cancel_reply"), "bytes") ?? "") : new byte[0];
        int cancelResult = Has(args, "cancel_reply") ? Int(At(At(args, "cancel_reply"), "result")) : 0;
        bool cancelled;
        if (stage == "queued")
        {
            var busyDone = new TaskCompletionSource<OrqAsyncResult>();
            var both = new ManualResetEventSlim();
            int id = 0;
            bool? inCall = null;
            AnswerAfter(() =>
            {
                onCall = null;
                if (!both.Wait(10000)) return;
                dbl_push(cancelResult, cancelReply, cancelReply.Length, -1);
                inCall = OrqConnection.CancelMessage(id);
            }, Encoding.ASCII.GetBytes("busy"));
            c.QueueMessage("Busy", new byte[] { 1 }, r => busyDone.TrySetResult(r));
            id = c.QueueMessage(module, payload, r => got.TrySetResult(r));
            both.Set();
            Harness.True(busyDone.Task.Wait(10000), "the request the worker held answered");
            Harness.True(inCall.HasValue, "cancelled while the worker held the other request");
            cancelled = inCall.Value;
        }
        else if (stage == "pending")
        {
            Script(replies);
            var held = ((List<object>)replies).Where(r => Has(r, "pending")).Select(r => (List<object>)At(r, "pending")).Last();
            var polled = new SemaphoreSlim(0);
            onCall = () => polled.Release();
            dbl_hold(1, Int(held[0]), Int(held[1]), cancelResult, cancelReply, cancelReply.Length, touch);
            int id = c.QueueMessage(module, payload, r => got.TrySetResult(r));
            Harness.True(polled.Wait(10000), "the library polled for the pending answer");
            onCall = null;
            cancelled = OrqConnection.CancelMessage(id);
        }
        else if (stage == "answered")
        {
            Script(replies);
            int id = c.QueueMessage(module, payload, r => got.TrySetResult(r));
            Harness.True(got.Task.Wait(10000), "answered");
            cancelled = OrqConnection.CancelMessage(id);
        }
        else throw new NotSupportedException("cancel stage " + stage);
        Harness.Equal((bool)At(expect, "cancelled"), cancelled, "cancel");
        Harness.True(got.Task.IsCompleted, "the request ended");
        OrqAsyncResult result = got.Task.Result;
        Harness.Equal(!(bool)At(expect, "cancelled"), !result.Cancelled, "the request's end");
        if (Has(expect, "cancel_result")) Harness.Equal(Int(At(expect, "cancel_result")), result.Code, "the server's answer to the cancel");
        if (Has(expect, "answer")) Same(Bytes(At(expect, "answer")), result.Answer, "the answer");
        else Harness.True(result.Cancelled, "the request never answers");
    }

    static object At(object o, string key)
    {
        var d = o as Dictionary<string, object>;
        object v;
        return d != null && d.TryGetValue(key, out v) ? v : null;
    }

    static bool Has(object o, string key)
    {
        var d = o as Dictionary<string, object>;
        return d != null && d.ContainsKey(key);
    }

    static int Int(object o) { return (int)(double)o; }

    /// <summary>Bytes (B) of the table.</summary>
    static byte[] Bytes(object b)
    {
        if (b is string) return Encoding.UTF8.GetBytes((string)b);
        var list = b as List<object>;
        if (list != null) return list.SelectMany(Bytes).ToArray();
        if (Has(b, "hex"))
        {
            string h = (string)At(b, "hex");
            return Enumerable.Range(0, h.Length / 2).Select(k => Convert.ToByte(h.Substring(2 * k, 2), 16)).ToArray();
        }
        if (Has(b, "le32")) return BitConverter.GetBytes(Int(At(b, "le32")));
        if (Has(b, "le16")) return BitConverter.GetBytes((short)Int(At(b, "le16")));
        if (Has(b, "repeat"))
        {
            byte[] one = Bytes(At(b, "repeat"));
            return Enumerable.Repeat(one, Int(At(b, "times"))).SelectMany(x => x).ToArray();
        }
        throw new FormatException("not bytes: " + b);
    }

    static void Script(object replies)
    {
        foreach (object r in (List<object>)replies ?? new List<object>())
        {
            if (Has(r, "pending"))
            {
                var t = (List<object>)At(r, "pending");
                byte[] ticket = BitConverter.GetBytes(Int(t[0])).Concat(BitConverter.GetBytes(Int(t[1]))).ToArray();
                dbl_push(-9000, ticket, ticket.Length, -1);
            }
            else if (Has(r, "part"))
            {
                byte[] p = Bytes(At(r, "part"));
                dbl_push(-1108, p, p.Length, -1);
            }
            else
            {
                byte[] b = Has(r, "bytes") ? Bytes(At(r, "bytes")) : new byte[0];
                dbl_push(Int(At(r, "result")), b, b.Length, Has(r, "reported") ? Int(At(r, "reported")) : -1);
            }
        }
    }

    // Argument values: a string is a text; {"bytes": B} bytes; null none.
    static string Text(object args, string name)
    {
        object v = At(args, name);
        if (v == null || v is string) return (string)v;
        if (Has(v, "bytes")) return Encoding.UTF8.GetString(Bytes(At(v, "bytes")));
        throw new FormatException(name + ": not a text");
    }

    // The payload of a message is bytes in this layer (SendMessage takes byte[]); a text
    // payload of the table is its UTF-8 bytes (cases that set an encoding for it are not
    // run, see Inexpressible).
    static byte[] Payload(object args)
    {
        object v = At(args, "payload");
        return v is string ? Encoding.UTF8.GetBytes((string)v) : Bytes(At(v, "bytes"));
    }

    static List<string> Texts(object args, string name)
    {
        return ((List<object>)At(At(args, name), "texts")).Cast<string>().ToList();
    }

    static List<Document> Documents(object args)
    {
        return ((List<object>)At(args, "documents")).Select(d => new Document(Int(At(d, "id")), (string)At(d, "text"))).ToList();
    }

    /// <summary>Makes the case's call; returns what the caller got, in the table's terms.</summary>
    static object Call(OrqConnection c, string call, object args)
    {
        Encoding enc = c.Encoding;
        switch (call)
        {
            case "ORQExt_SendMessage":
                return c.SendMessage(Text(args, "module"), Payload(args), Text(args, "target"));
            case "ORQExt_SendMessageTimeOut":
                return c.SendMessage(Text(args, "module"), Payload(args), TimeSpan.FromMilliseconds(Int(At(args, "timeout_ms"))),
                                     (bool)At(args, "cancel"), Text(args, "target"));
            case "result_kind":
                return c.SendMessage("Echo", new byte[] { 1 });
            case "ORQExt_ExecSql2": return c.Execute(Text(args, "statement"));
            case "ORQExt_GetModInfos": return enc.GetBytes(c.ModuleList());
            case "ORQExt_GetModInfo": return enc.GetBytes(c.ModuleInfo(Text(args, "module")));
            case "ORQExt_NLPE_DictLoad": return c.DictLoad(Text(args, "name"));
            case "ORQExt_NLPE_WordSect": return c.Segment(Text(args, "text"));
            case "ORQExt_AR_GetAllDictNameLoaded": return c.ArNames(true);
            case "ORQExt_AR_Search": return c.ArSearch(Text(args, "text"));
            case "ORQExt_ExtractWord_Direct": return c.ExtractWords(Texts(args, "texts"), capacity: Int(At(args, "capacity")));
            case "ORQExt_BSM_GetClassifyResult": return c.BsmClassify(Texts(args, "texts"), capacity: Int(At(args, "capacity")));
            case "ORQExt_ARA_Stat_AssociatedFreq_Begin": return c.AssociationBegin(Text(args, "run"));
            // A plain text is an item of value 0, as in the other layers.
            case "ORQExt_KWFS_Frequency": return c.KeywordFrequency(Texts(args, "items").Select(t => new KeywordItem(t)).ToList());
            case "ORQExt_STM_GetDomainNameList": return c.Domains();
            case "ORQExt_TOP_GetItem": return c.TopicItems(Text(args, "topic"), Text(args, "text"));
            case "ORQExt_STM_KeyWordExtractor_Do": return c.Keywords(Int(At(args, "handle")), Documents(args));
            case "ORQExt_STM_TextClassifier_Do": return c.Classify(Int(At(args, "handle")), Documents(args));
            case "ORQExt_STM_VSMGenerator_Do": return c.VsmBuild(Int(At(args, "handle")), Documents(args));
            case "ORQExt_STM_VSMGenerator_GetResult": return c.VsmSimilar(Int(At(args, "handle")), Text(args, "text"));
            case "ORQExt_STM_Similarity_Analyst": return c.Similarity(Text(args, "text1"), Text(args, "text2"));
        }
        throw new NotSupportedException("the .NET runner has no mapping for " + call);
    }

    static void Same(byte[] want, byte[] got, string what)
    {
        if (!want.SequenceEqual(got))
            throw new Exception(what + ": expected " + BitConverter.ToString(want) + ", got " + BitConverter.ToString(got));
    }

    static byte[] Of(object got)
    {
        var answer = got as ServerAnswer;
        if (answer != null) return answer.Bytes;
        if (got is byte[]) return (byte[])got;
        throw new Exception("the answer is a " + (got == null ? "null" : got.GetType().Name) + ", not bytes");
    }

    static void CheckValue(object want, object got, Encoding enc)
    {
        if (Has(want, "bytes")) Same(Bytes(At(want, "bytes")), Of(got), "bytes");
        else if (Has(want, "int")) Harness.Equal(Int(At(want, "int")), (int)got, "int");
        else if (Has(want, "bool")) Harness.Equal((bool)At(want, "bool"), (bool)got, "bool");
        else if (Has(want, "tokens"))
        {
            var tokens = (IList<Token>)got;
            var w = (List<object>)At(want, "tokens");
            Harness.Equal(w.Count, tokens.Count, "tokens");
            for (int k = 0; k < w.Count; ++k)
            {
                var t = (List<object>)w[k];
                Harness.Equal(Int(t[0]), tokens[k].Offset, "offset " + k);
                Harness.Equal(Int(t[1]), tokens[k].Length, "length " + k);
                Same(Bytes(t[2]), enc.GetBytes(tokens[k].Word), "word " + k);
            }
        }
        else if (Has(want, "words"))
        {
            var words = (IList<ExtractedWord>)got;
            Harness.Equal(((List<object>)At(want, "words")).Count, words.Count, "words");
            throw new NotSupportedException("extraction entries: the runner does not compare their fields yet");
        }
        else if (Has(want, "bsm"))
        {
            var r = (BsmResult)got;
            object b = At(want, "bsm");
            Same(Bytes(At(b, "best")), enc.GetBytes(r.Best), "best");
            Same(Bytes(At(b, "scores")), r.Scores.Bytes, "scores");
            Harness.Equal((bool)At(b, "matched"), r.Matched, "matched");
        }
        else if (Has(want, "associations"))
        {
            var r = (AssociationResult)got;
            object a = At(want, "associations");
            Same(Bytes(At(a, "associations")), r.Associations.Bytes, "associations");
            Same(Bytes(At(a, "categories")), r.Categories.Bytes, "categories");
        }
        else throw new NotSupportedException("the .NET runner cannot compare the value " + string.Join(",", ((Dictionary<string, object>)want).Keys));
    }

    /// <summary>The exception type the table's kind of a code is in this layer.</summary>
    static void CheckError(object want, Exception e, Dictionary<string, string> kinds)
    {
        int code = Int(At(want, "code"));
        string kind;
        if (!kinds.TryGetValue(code.ToString(CultureInfo.InvariantCulture), out kind)) kind = "error";
        var orq = e as IOrqException;
        if (kind == "bad_argument" && orq == null)
        {
            // Refused before the call: the .NET exceptions for bad arguments, naming it.
            if (!(e is ArgumentException)) throw new Exception("expected an ArgumentException, got " + e);
            if (Has(want, "argument"))
            {
                string name = (string)At(want, "argument");
                string param = ((ArgumentException)e).ParamName ?? "";
                if (param != name && !(name == "timeout" && param == "limit"))
                    throw new Exception("the refusal names '" + param + "', not '" + name + "'");
            }
            return;
        }
        if (orq == null) throw new Exception("expected an exception of the library (" + kind + "), got " + e);
        Harness.Equal(code, orq.Code, "code");
        Type type = kind == "answer_too_long" ? typeof(OrqAnswerTooLongException)
                  : kind == "timeout" ? typeof(OrqTimeoutException)
                  : kind == "no_connection" ? typeof(OrqConnectionException)
                  : typeof(OrqException);
        Harness.Equal(type, e.GetType(), "the exception class of kind " + kind);
        if (Has(want, "length")) Harness.Equal(Int(At(want, "length")), ((OrqAnswerTooLongException)e).Length, "length");
    }

    static void CheckRequests(object want)
    {
        var reqs = (List<object>)want;
        Harness.Equal(reqs.Count, dbl_command_count(), "requests sent");
        for (int k = 0; k < reqs.Count; ++k)
        {
            object r = reqs[k];
            if (Has(r, "code")) Harness.Equal(Int(At(r, "code")), dbl_command_code(k), "command code of request " + k);
            if (Has(r, "capacity")) Harness.Equal(Int(At(r, "capacity")), dbl_command_capacity(k), "capacity of request " + k);
            int n = dbl_command_body(k, null, 0);
            var body = new byte[Math.Max(n, 1)];
            dbl_command_body(k, body, n);
            body = body.Take(n).ToArray();
            if (Has(r, "body")) Same(Bytes(At(r, "body")), body, "body of request " + k);
            if (Has(r, "body_ends"))
            {
                byte[] end = Bytes(At(r, "body_ends"));
                Same(end, body.Skip(Math.Max(0, body.Length - end.Length)).ToArray(), "end of the body of request " + k);
            }
            if (Has(r, "body_has"))
            {
                byte[] part = Bytes(At(r, "body_has"));
                bool found = Enumerable.Range(0, Math.Max(0, body.Length - part.Length + 1)).Any(at => body.Skip(at).Take(part.Length).SequenceEqual(part));
                if (!found) throw new Exception("request " + k + " does not hold " + BitConverter.ToString(part));
            }
        }
    }

    static void RunCase(object cs, Dictionary<string, string> kinds)
    {
        object conn = At(cs, "connection"), expect = At(cs, "expect");
        Encoding enc = (string)At(conn, "encoding") == "latin-1" ? Encoding.GetEncoding(28591) : null;
        dbl_reset();
        using (var c = new OrqConnection("127.0.0.1", 7300, "admin", "admin", enc))
        {
            if (Has(conn, "answer_size")) c.AnswerSize = Int(At(conn, "answer_size"));
            if (Has(conn, "max_answer_size")) c.MaxAnswerSize = Int(At(conn, "max_answer_size"));
            dbl_reset();
            if ((string)At(cs, "call") == "cancel")
            {
                RunCancel(c, At(cs, "args"), expect, At(cs, "double"));
                dbl_reset();
                return;
            }
            Script(At(cs, "double"));
            object got = null;
            Exception failed = null;
            try
            {
                got = Call(c, (string)At(cs, "call"), At(cs, "args"));
            }
            catch (NotSupportedException)
            {
                throw;
            }
            catch (Exception e)
            {
                failed = e;
            }
            if (Has(expect, "error"))
            {
                if (failed == null) throw new Exception("expected the error " + Int(At(At(expect, "error"), "code")) + ", the call returned");
                CheckError(At(expect, "error"), failed, kinds);
            }
            else
            {
                if (failed != null) throw new Exception("the call failed: " + failed.Message, failed);
                if (Has(expect, "value")) CheckValue(At(expect, "value"), got, c.Encoding);
            }
            if (Has(expect, "requests")) CheckRequests(At(expect, "requests"));
        }
    }

    public static void Run(string folder)
    {
        if (!Directory.Exists(folder))
        {
            Console.WriteLine("tests/cases: no folder " + folder + ": the table of cases is not run");
            return;
        }
        var kindsFile = (Dictionary<string, object>)Json.Parse(File.ReadAllText(Path.Combine(folder, "kinds.json")));
        var kinds = ((Dictionary<string, object>)kindsFile["kinds"]).ToDictionary(kv => kv.Key, kv => (string)kv.Value);
        int ran = 0, skipped = 0;
        foreach (string file in Directory.GetFiles(folder, "*.json").OrderBy(f => f, StringComparer.Ordinal))
        {
            if (Path.GetFileName(file) == "kinds.json") continue;
            foreach (object cs in (List<object>)At(Json.Parse(File.ReadAllText(file)), "cases"))
            {
                string name = (string)At(cs, "name"), why = Inexpressible(cs);
                if (why != null)
                {
                    Console.WriteLine("skip case " + name + ": " + why);
                    ++skipped;
                    continue;
                }
                ++ran;
                Harness.Test("case " + name, () => RunCase(cs, kinds));
            }
        }
        Console.WriteLine("tests/cases: " + ran + " cases run, " + skipped + " skipped");
    }
}
