using System;
using System.Collections.Generic;

namespace ORQExtClient
{
    /// <summary>A cluster of the cluster description, identified by (Name, Tag); the name is
    /// matched against module names without regard to letter case.</summary>
    public sealed class Cluster
    {
        public Cluster(string name, string tag, string attrA = "", string attrB = "")
        {
            Name = name;
            Tag = tag;
            AttrA = attrA;
            AttrB = attrB;
        }

        public string Name { get; set; }
        public string Tag { get; set; }
        public string AttrA { get; set; }
        public string AttrB { get; set; }
    }

    /// <summary>A node of a cluster: a server the module messages may be routed to.</summary>
    public sealed class Node
    {
        public Node(string server, int port, string user, string password, string attr = "")
        {
            Server = server;
            Port = port;
            User = user;
            Password = password;
            Attr = attr;
        }

        public string Server { get; set; }
        public int Port { get; set; }
        public string User { get; set; }
        public string Password { get; set; }
        public string Attr { get; set; }
    }

    /// <summary>One input text of a batch call; Id comes back in per-text answers. The text is
    /// sent with its length, so it may hold NUL characters.</summary>
    public sealed class Document
    {
        public Document(int id, string text)
        {
            Id = id;
            Text = text;
        }

        public int Id { get; set; }
        public string Text { get; set; }
    }

    /// <summary>One item of the keyword frequency calls.</summary>
    public sealed class KeywordItem
    {
        public KeywordItem(string text, int value = 0, string text2 = null)
        {
            Text = text;
            Value = value;
            Text2 = text2;
        }

        public string Text { get; set; }
        public int Value { get; set; }
        public string Text2 { get; set; }
    }

    /// <summary>A segmented word: byte offset and byte length in the encoded text, and the
    /// word they cover (null when the entry does not lie inside the text).</summary>
    public sealed class Token
    {
        internal Token(int offset, int length, string word)
        {
            Offset = offset;
            Length = length;
            Word = word;
        }

        public int Offset { get; }
        public int Length { get; }
        public string Word { get; }
    }

    /// <summary>One entry of the word extraction answer.</summary>
    public sealed class ExtractedWord
    {
        internal ExtractedWord(string word, int count, int firstOffset, int textIndex, int length)
        {
            Word = word;
            Count = count;
            FirstOffset = firstOffset;
            TextIndex = textIndex;
            Length = length;
        }

        public string Word { get; }
        public int Count { get; }
        public int FirstOffset { get; }
        public int TextIndex { get; }
        public int Length { get; }
    }

    /// <summary>The answer of the dictionary classifier (engine 3).</summary>
    public sealed class ClassifyResult
    {
        internal ClassifyResult(string best, ServerAnswer scores, int valueA, int valueB, int valueC)
        {
            Best = best;
            Scores = scores;
            ValueA = valueA;
            ValueB = valueB;
            ValueC = valueC;
        }

        public string Best { get; }
        public ServerAnswer Scores { get; }
        public int ValueA { get; }
        public int ValueB { get; }
        public int ValueC { get; }
    }

    /// <summary>The answer of the BSM classifier (engine 7).</summary>
    public sealed class BsmResult
    {
        internal BsmResult(string best, ServerAnswer scores, bool matched)
        {
            Best = best;
            Scores = scores;
            Matched = matched;
        }

        public string Best { get; }
        public ServerAnswer Scores { get; }
        public bool Matched { get; }
    }

    /// <summary>The class a text joined: its number (null when the answer has none) and label.</summary>
    public sealed class UnlabelledClass
    {
        internal UnlabelledClass(int? number, string label)
        {
            Number = number;
            Label = label;
        }

        public int? Number { get; }
        public string Label { get; }
    }

    /// <summary>An answer whose layout is the server module's: handed back as the library
    /// delivered it. Bytes are the answer's bytes; Text is the same decoded with the
    /// connection's encoding, up to the first NUL (bytes it cannot read become U+FFFD).</summary>
    public sealed class ServerAnswer
    {
        internal ServerAnswer(byte[] bytes, string text)
        {
            Bytes = bytes;
            Text = text;
        }

        public byte[] Bytes { get; }
        public string Text { get; }

        public override string ToString()
        {
            return Text;
        }
    }

    /// <summary>The answer of ORQExt_AR_Search: the associations and, when asked for, the
    /// matching dictionaries' categories, both as the module wrote them.</summary>
    public sealed class AssociationResult
    {
        internal AssociationResult(ServerAnswer associations, ServerAnswer categories)
        {
            Associations = associations;
            Categories = categories;
        }

        public ServerAnswer Associations { get; }
        /// <summary>Empty when the categories were not asked for.</summary>
        public ServerAnswer Categories { get; }
    }

    /// <summary>The outcome of a queued message as its callback receives it.</summary>
    public sealed class OrqAsyncResult
    {
        internal OrqAsyncResult(int requestId, int code, byte[] answer, bool cancelled)
        {
            RequestId = requestId;
            Code = code;
            Answer = answer;
            Cancelled = cancelled;
        }

        public int RequestId { get; }
        /// <summary>The Result code of the request; for a cancelled one, the cancel's code.</summary>
        public int Code { get; }
        /// <summary>The answer bytes (empty when cancelled).</summary>
        public byte[] Answer { get; }
        public bool Cancelled { get; }
        public bool Ok { get { return !Cancelled && Code >= 0; } }

        /// <summary>The exception of a failed answer; null for a successful or cancelled one.</summary>
        public Exception Error()
        {
            return Cancelled || Code >= 0 ? null : OrqException.For(Code, "asynchronous message");
        }
    }
}
