using System;

namespace ORQExtClient
{
    /// <summary>One row of the library's result table (exports/orqext_results.h).</summary>
    public sealed class ResultRow
    {
        public ResultRow(int code, string name, string source, string meaning)
        {
            Code = code;
            Name = name;
            Source = source;
            Meaning = meaning;
        }

        public int Code { get; }
        public string Name { get; }
        /// <summary>"ORQExtClient", "XSRClient", "xsr-sim" or "service module".</summary>
        public string Source { get; }
        public string Meaning { get; }
    }

    /// <summary>What every exception of a failed call carries: OrqException and its
    /// subclasses, and OrqTimeoutException (a System.TimeoutException). To catch anything
    /// the library reports: <c>catch (Exception e) when (e is IOrqException)</c>.</summary>
    public interface IOrqException
    {
        /// <summary>The Result code.</summary>
        int Code { get; }
        /// <summary>The code's name in the result table.</summary>
        string Name { get; }
        /// <summary>The code's meaning in the result table.</summary>
        string Meaning { get; }
        /// <summary>The export (or operation) that failed; may be null.</summary>
        string Call { get; }
        /// <summary>More about the failure; may be null.</summary>
        string Detail { get; }
    }

    /// <summary>A call failed with a Result code. Name and Meaning come from the result table.
    /// A time-out is an OrqTimeoutException instead, which derives from
    /// System.TimeoutException; both implement IOrqException.</summary>
    public class OrqException : Exception, IOrqException
    {
        public OrqException(int code, string call = null, string detail = null)
            : base(Format(code, call, detail))
        {
            Code = code;
            Call = call;
            Detail = detail;
            string name, meaning;
            Describe(code, out name, out meaning);
            Name = name;
            Meaning = meaning;
        }

        public int Code { get; }
        public string Name { get; }
        public string Meaning { get; }
        /// <summary>The export (or operation) that failed; may be null.</summary>
        public string Call { get; }
        public string Detail { get; }

        /// <summary>Every Result code a caller can meet, in the order of the header.</summary>
        public static ResultRow[] Results
        {
            get { return (ResultRow[])ResultTable.Rows.Clone(); }
        }

        /// <summary>Name and meaning of a code; unknown codes get a generic text.</summary>
        public static void Describe(int code, out string name, out string meaning)
        {
            foreach (ResultRow row in ResultTable.Rows)
            {
                if (row.Code == code)
                {
                    name = row.Name;
                    meaning = row.Meaning;
                    return;
                }
            }
            if (code >= 0)
            {
                name = "STATUS";
                meaning = "status word of the server";
            }
            else
            {
                name = "UNKNOWN";
                meaning = "unknown result code";
            }
        }

        internal static string Format(int code, string call, string detail)
        {
            string name, meaning;
            Describe(code, out name, out meaning);
            string text = code + " " + name + ": " + meaning;
            if (!string.IsNullOrEmpty(call)) text = call + " failed: " + text;
            if (!string.IsNullOrEmpty(detail)) text += " (" + detail + ")";
            return text;
        }

        /// <summary>The exception for a failed Result code: the class follows the code as in
        /// the Python package (time-outs, lost or unknown connections, answers too long).</summary>
        public static Exception For(int code, string call = null, string detail = null)
        {
            switch (code)
            {
                case -1107:
                case -20104:
                    return new OrqAnswerTooLongException(code, call, detail, -1);
                case -1112:
                case -1113:
                case -20007:
                    return new OrqTimeoutException(code, call, detail);
                case -4100:
                case -20001:
                case -20002:
                case -20003:
                case -20004:
                case -20005:
                case -20006:
                case -20012:
                    return new OrqConnectionException(code, call, detail);
                default:
                    return new OrqException(code, call, detail);
            }
        }

        /// <summary>Returns a non-negative code, throws the exception of a negative one.</summary>
        internal static IOrqException Error(int code, string call = null, string detail = null)
        {
            return (IOrqException)For(code, call, detail);
        }

        internal static int Check(int code, string call)
        {
            if (code < 0) throw For(code, call);
            return code;
        }
    }

    /// <summary>No complete answer within the time limit (-1112, -1113) or the client
    /// library's I/O limit (-20007). A System.TimeoutException, so that
    /// <c>catch (TimeoutException)</c> takes it; Code, Name and Meaning as on OrqException.</summary>
    public class OrqTimeoutException : TimeoutException, IOrqException
    {
        public OrqTimeoutException(int code, string call = null, string detail = null)
            : base(OrqException.Format(code, call, detail))
        {
            Code = code;
            Call = call;
            Detail = detail;
            string name, meaning;
            OrqException.Describe(code, out name, out meaning);
            Name = name;
            Meaning = meaning;
        }

        public int Code { get; }
        public string Name { get; }
        public string Meaning { get; }
        public string Call { get; }
        public string Detail { get; }
    }

    /// <summary>The connection is unknown, could not be made, was refused or lost.</summary>
    public class OrqConnectionException : OrqException
    {
        public OrqConnectionException(int code, string call = null, string detail = null) : base(code, call, detail) { }
    }

    /// <summary>The answer did not fit: longer than the maximum answer size, or still too long
    /// after the one retry with the reported length. Length is the length the library
    /// reported (-1 when unknown).</summary>
    public class OrqAnswerTooLongException : OrqException
    {
        public OrqAnswerTooLongException(int code, string call, string detail, int length) : base(code, call, detail)
        {
            Length = length;
        }

        public int Length { get; }
    }
}
