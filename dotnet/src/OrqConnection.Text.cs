using System;
using System.Collections.Generic;

namespace ORQExtClient
{
    // The typed calls of the text analysis modules ("KExt_NLPE", "KExt_ARA", "KExt_KWFS").
    // Answers the library lays out become records; answers whose layout is the server
    // module's (score lists, association lists, topic lists) are handed back as they came,
    // as ServerAnswer (bytes, and text in the connection's encoding).
    public sealed unsafe partial class OrqConnection
    {
        /// <summary>Up to `most` texts as pinned NUL-terminated pointers, the rest null.</summary>
        IntPtr[] TextPointers(Pins pins, IList<string> texts, int most, string param)
        {
            if (texts == null) throw new ArgumentNullException(param);
            if (texts.Count > most) throw new ArgumentException("at most " + most + " texts", param);
            var p = new IntPtr[most];
            for (int i = 0; i < texts.Count; ++i) p[i] = pins.Add(T(texts[i], param));
            return p;
        }

        // ---- dictionaries and segmentation (engine 0) ------------------------------

        delegate int TextCall(int conn, byte* text);

        int Text1(string name, TextCall f, string text, string param, bool optional = false)
        {
            byte[] t = T(text, param, optional);
            return Call(name, h => { fixed (byte* p = t) return f(h, p); });
        }

        /// <summary>Adds words to a dictionary ("name: word, word"); the module's count.</summary>
        public int DictImport(string text) { return Text1("ORQExt_NLPE_DictImport", Native.ORQExt_NLPE_DictImport, text, "text"); }
        public int DictLoad(string name) { return Text1("ORQExt_NLPE_DictLoad", Native.ORQExt_NLPE_DictLoad, name, "name"); }
        public int DictUnload(int dictHandle) { return Call("ORQExt_NLPE_DictUnload", h => Native.ORQExt_NLPE_DictUnload(h, dictHandle)); }
        public int DictSearch(string word) { return Text1("ORQExt_NLPE_DictSearch", Native.ORQExt_NLPE_DictSearch, word, "word"); }
        public int DictHandle(string name) { return Text1("ORQExt_NLPE_GetHandle", Native.ORQExt_NLPE_GetHandle, name, "name"); }
        public int DeleteDictHandle(int dictHandle) { return Call("ORQExt_NLPE_DeleteHandle", h => Native.ORQExt_NLPE_DeleteHandle(h, dictHandle)); }

        delegate int SegmentCall(int conn, byte* text, int* items, int capacity, short* marks);

        IList<Token> Segment(string name, string text, SegmentCall f)
        {
            byte[] data = T(text, "text");
            int len = data.Length - 1;
            if (len == 0) return new List<Token>();
            // Every word is at least one byte, so len + 2 entries never cut the list.
            int cap = len + 2;
            var items = new int[cap];
            var marks = new short[cap];
            int count = Call(name, h =>
            {
                fixed (byte* pt = data)
                fixed (int* pi = items)
                fixed (short* pm = marks)
                    return f(h, pt, pi, cap, pm);
            });
            var r = new List<Token>();
            for (int i = 0; i < Math.Min(count, cap); ++i)
            {
                int off = items[i], length = marks[i] & 0xFFFF;
                bool inside = off >= 0 && off + length <= len;
                r.Add(new Token(off, length, inside ? codec.Decode(data, off, length) : null));
            }
            return r;
        }

        /// <summary>Splits a text into words (ORQExt_NLPE_WordSect); offsets and lengths count
        /// bytes of the encoded text.</summary>
        public IList<Token> Segment(string text, int optA = 0, int optB = 0, int optC = 0, byte flagA = 0, byte flagB = 0)
        {
            return Segment("ORQExt_NLPE_WordSect", text, (h, t, i, c, m) => Native.ORQExt_NLPE_WordSect(h, t, i, c, optA, optB, m, optC, flagA, flagB));
        }

        // ---- aptitude search (engine 5) ------------------------------------------------

        public int AptitudeInit() { return Call("ORQExt_Aptitude_Init", h => Native.ORQExt_Aptitude_Init(h)); }
        public int AptitudeUninit() { return Call("ORQExt_Aptitude_UnInit", h => Native.ORQExt_Aptitude_UnInit(h)); }

        /// <summary>Words that begin with the text: the module's answer as sent.</summary>
        public ServerAnswer AptitudeSearch(string text)
        {
            byte[] t = T(text, "text");
            return codec.Answer(Sized("ORQExt_Aptitude_Search", (h, b, n) => { fixed (byte* p = t) return Native.ORQExt_Aptitude_Search(h, p, b, n); }));
        }

        public IList<Token> AptitudeSegment(string text, int optA = 0, int optB = 0, int optC = 0, byte flagA = 0)
        {
            return Segment("ORQExt_Aptitude_WordSect", text, (h, t, i, c, m) => Native.ORQExt_Aptitude_WordSect(h, t, i, c, optA, optB, m, optC, flagA));
        }

        // ---- word extraction (engine 4) --------------------------------------------------

        public int ExtractInit(int mode = 1) { return Call("ORQExt_ExtractWord_Initial", h => Native.ORQExt_ExtractWord_Initial(h, mode)); }
        public int ExtractFree() { return Call("ORQExt_ExtractWord_FreeDict", h => Native.ORQExt_ExtractWord_FreeDict(h)); }

        /// <summary>The distinct words of up to six texts. More words than capacity throw
        /// OrqAnswerTooLongException.</summary>
        public IList<ExtractedWord> ExtractWords(IList<string> texts, int mode = 1, bool flag = false, bool normal = false, int capacity = 1024)
        {
            string name = normal ? "ORQExt_ExtractWord_DirectNormal" : "ORQExt_ExtractWord_Direct";
            if (capacity < 1) throw new ArgumentOutOfRangeException("capacity");
            const int size = Native.ORQEXT_EXTRACT_ENTRY_SIZE;
            using (var pins = new Pins())
            {
                IntPtr[] fields = TextPointers(pins, texts, 6, "texts");
                var entries = new byte[capacity * size];
                var count = new[] { capacity };
                int rc = Run(h =>
                {
                    fixed (IntPtr* pf = fields)
                    fixed (byte* pe = entries)
                    fixed (int* pc = count)
                        return normal ? Native.ORQExt_ExtractWord_DirectNormal(h, (byte**)pf, pe, pc, mode, (byte)(flag ? 1 : 0))
                                      : Native.ORQExt_ExtractWord_Direct(h, (byte**)pf, pe, pc, mode, (byte)(flag ? 1 : 0));
                });
                if (rc == -1107) throw new OrqAnswerTooLongException(-1107, name, "more than " + capacity + " words; raise capacity", count[0]);
                OrqException.Check(rc, name);
                var r = new List<ExtractedWord>();
                // An entry: the word in 512 bytes, then count, first offset, text index and
                // length as 32-bit integers.
                fixed (byte* pe = entries)
                {
                    for (int i = 0; i < Math.Max(0, Math.Min(count[0], capacity)); ++i)
                    {
                        byte* e = pe + i * size;
                        int* v = (int*)(e + 512);
                        r.Add(new ExtractedWord(codec.FromFixed(e, 512), v[0], v[1], v[2], v[3]));
                    }
                }
                return r;
            }
        }

        // ---- classification ------------------------------------------------------------

        public int UnlabelledInit(string text = null) { return Text1("ORQExt_ClassNoLabel_Init", Native.ORQExt_ClassNoLabel_Init, text, "text", true); }
        public int UnlabelledFree() { return Call("ORQExt_ClassNoLabel_Free", h => Native.ORQExt_ClassNoLabel_Free(h)); }

        /// <summary>The class the text joins (engine 6): "number label", or a label alone.</summary>
        public UnlabelledClass UnlabelledClass(string text)
        {
            byte[] t = T(text, "text");
            byte[] a = Sized("ORQExt_ClassNoLabel_GetClass", (h, b, n) => { fixed (byte* p = t) return Native.ORQExt_ClassNoLabel_GetClass(h, p, b, n); });
            string answer = codec.Decode(a, 0, a.Length);
            int sp = answer.IndexOf(' ');
            if (sp > 0)
            {
                bool digits = true;
                for (int i = 0; i < sp; ++i) digits &= answer[i] >= '0' && answer[i] <= '9';
                int number;
                if (digits && int.TryParse(answer.Substring(0, sp), out number))
                    return new UnlabelledClass(number, answer.Substring(sp + 1));
            }
            return new UnlabelledClass(null, answer);
        }

        public int ClassifierSetPath(string path = null) { return Text1("ORQExt_CLA_SetPath", Native.ORQExt_CLA_SetPath, path, "path", true); }
        public int ClassifierFree() { return Call("ORQExt_CLA_FreeDict", h => Native.ORQExt_CLA_FreeDict(h)); }

        /// <summary>Classifies up to seven texts together (engine 3).</summary>
        public ClassifyResult ClassifierClassify(IList<string> texts, int mode = 0, int extra = 0, int capacity = 4096)
        {
            if (capacity < 1) throw new ArgumentOutOfRangeException("capacity");
            using (var pins = new Pins())
            {
                IntPtr[] fields = TextPointers(pins, texts, 7, "texts");
                byte[] a = new byte[capacity], b = new byte[capacity];
                var ints = new[] { capacity, capacity, 0, 0 };  // lengths A and B, values C and A
                var vb = new byte[1];
                Call("ORQExt_CLA_GetClassifyResult", h =>
                {
                    fixed (IntPtr* pf = fields)
                    fixed (byte* pa = a, pb = b)
                    fixed (int* pi = ints)
                    fixed (byte* pvb = vb)
                        return Native.ORQExt_CLA_GetClassifyResult(h, mode, (byte**)pf, pa, pi, pb, pi + 1, pi + 2, pvb, pi + 3, extra);
                });
                return new ClassifyResult(codec.Decode(a, 0, Math.Max(0, Math.Min(ints[0], capacity))),
                                          codec.Answer(Head(b, ints[1], capacity)),
                                          ints[3], vb[0], ints[2]);
            }
        }

        public int EztcSetPath() { return Call("ORQExt_EZTC_SetPath", h => Native.ORQExt_EZTC_SetPath(h)); }
        public int EztcFree() { return Call("ORQExt_EZTC_FreeDict", h => Native.ORQExt_EZTC_FreeDict(h)); }

        /// <summary>The category of up to six texts together (engine 2).</summary>
        public string EztcClassify(IList<string> texts, int value1 = 0, int value2 = 0, int value3 = 0, byte flag = 0, int capacity = 4096)
        {
            if (capacity < 1) throw new ArgumentOutOfRangeException("capacity");
            using (var pins = new Pins())
            {
                IntPtr[] t = TextPointers(pins, texts, 6, "texts");
                var f = new[] { new EztcTextFields { text1 = t[0], text2 = t[1], text3 = t[2], text4 = t[3], text5 = t[4], text6 = t[5] } };
                byte[] buf = new byte[capacity];
                var n = new[] { capacity };
                Call("ORQExt_EZTC_GetTxtClassify", h =>
                {
                    fixed (byte* pb = buf)
                    fixed (int* pn = n)
                    fixed (EztcTextFields* pf = f)
                        return Native.ORQExt_EZTC_GetTxtClassify(h, value1, value2, pf, value3, pb, pn, flag);
                });
                return codec.Decode(buf, 0, Math.Max(0, Math.Min(n[0], capacity)));
            }
        }

        public int BsmInit() { return Call("ORQExt_BSM_Word_Init", h => Native.ORQExt_BSM_Word_Init(h)); }
        public int BsmFree() { return Call("ORQExt_BSM_FreeDict", h => Native.ORQExt_BSM_FreeDict(h)); }

        /// <summary>Classifies up to eight texts together (engine 7).</summary>
        public BsmResult BsmClassify(IList<string> texts, int value1 = 0, int value2 = 0, int capacity = 4096)
        {
            using (var pins = new Pins())
            {
                IntPtr[] t = TextPointers(pins, texts, 8, "texts");
                var f = new[] { new BsmTextFields { text1 = t[0], text2 = t[1], text3 = t[2], text4 = t[3], text5 = t[4], text6 = t[5], text7 = t[6], text8 = t[7] } };
                var flag = new byte[1];
                const string name = "ORQExt_BSM_GetClassifyResult";
                byte[][] r = TwoSized(name, (h, a, la, b, lb) =>
                {
                    fixed (BsmTextFields* pf = f)
                    fixed (byte* pflag = flag)
                        return Native.ORQExt_BSM_GetClassifyResult(h, value1, value2, pf, a, la, b, lb, pflag);
                }, capacity, capacity);
                return new BsmResult(codec.Decode(r[0], 0, r[0].Length), codec.Answer(r[1]), flag[0] == 1);
            }
        }

        // ---- association rules and keyword frequency ------------------------------------

        delegate int TwoTextCall(int conn, byte* a, byte* b);

        int Text2(string name, TwoTextCall f, string a, string paramA, string b, string paramB)
        {
            byte[] ta = T(a, paramA, true), tb = T(b, paramB, true);
            return Call(name, h => { fixed (byte* pa = ta, pb = tb) return f(h, pa, pb); });
        }

        public int AssociationBegin(string run) { return Text1("ORQExt_ARA_Stat_AssociatedFreq_Begin", Native.ORQExt_ARA_Stat_AssociatedFreq_Begin, run, "run", true); }

        public int AssociationCount(string textA, string textB, int value = 1, bool bothWays = false)
        {
            return Text2("ORQExt_ARA_Stat_AssociatedFreq", (h, a, b) => Native.ORQExt_ARA_Stat_AssociatedFreq(h, a, b, value, (byte)(bothWays ? 1 : 0)),
                         textA, "textA", textB, "textB");
        }

        public int AssociationEnd() { return Call("ORQExt_ARA_Stat_AssociatedFreq_End", h => Native.ORQExt_ARA_Stat_AssociatedFreq_End(h)); }
        public int AssociationMerge(string runA, string runB) { return Text2("ORQExt_ARA_MulMergeFile", Native.ORQExt_ARA_MulMergeFile, runA, "runA", runB, "runB"); }

        public int AssociationFilter(string run, string term = null, int minimum = 0)
        {
            return Text2("ORQExt_ARA_Filtrate", (h, a, b) => Native.ORQExt_ARA_Filtrate(h, a, b, minimum), run, "run", term, "term");
        }

        public int WordSupport(string run, string term) { return Text2("ORQExt_ARA_GetWordSupportRec", Native.ORQExt_ARA_GetWordSupportRec, run, "run", term, "term"); }

        KwfsItem[] KwfsItems(Pins pins, IList<KeywordItem> items)
        {
            if (items == null) throw new ArgumentNullException("items");
            var arr = new KwfsItem[Math.Max(items.Count, 1)];
            for (int i = 0; i < items.Count; ++i)
            {
                if (items[i] == null) throw new ArgumentNullException("items");
                arr[i].text1 = pins.Add(T(items[i].Text, "text", true));
                arr[i].@value = items[i].Value;
                arr[i].text2 = pins.Add(T(items[i].Text2, "text2", true));
            }
            return arr;
        }

        public int KeywordFrequency(IList<KeywordItem> items, int minimum = 0, string exclude = null, int number = 0)
        {
            using (var pins = new Pins())
            {
                KwfsItem[] arr = KwfsItems(pins, items);
                var opts = new[] { new KwfsOptions { @value = minimum, text = pins.Add(T(exclude, "exclude", true)) } };
                return Call("ORQExt_KWFS_Frequency", h =>
                {
                    fixed (KwfsItem* pa = arr)
                    fixed (KwfsOptions* po = opts)
                        return Native.ORQExt_KWFS_Frequency(h, pa, items.Count, po, number);
                });
            }
        }

        public int KeywordAssociated(IList<KeywordItem> items, string keyword, int minimum = 0)
        {
            using (var pins = new Pins())
            {
                KwfsItem[] arr = KwfsItems(pins, items);
                var opts = new[] { new KwfsOptions { @value = minimum, text = pins.Add(T(keyword, "keyword", true)) } };
                return Call("ORQExt_KWFS_Associated", h =>
                {
                    fixed (KwfsItem* pa = arr)
                    fixed (KwfsOptions* po = opts)
                        return Native.ORQExt_KWFS_Associated(h, pa, items.Count, po);
                });
            }
        }

        // ---- association dictionaries (engine 1) -------------------------------------------

        public int ArInitial() { return Call("ORQExt_AR_Initial", h => Native.ORQExt_AR_Initial(h)); }

        public int ArCreate(string name, string category = null, string entries = null)
        {
            byte[] n = T(name, "name", true), c = T(category, "category", true), e = T(entries, "entries", true);
            return Call("ORQExt_AR_Dict_Create", h => { fixed (byte* pn = n, pc = c, pe = e) return Native.ORQExt_AR_Dict_Create(h, pn, pc, pe); });
        }

        public int ArDelete(string name) { return Text1("ORQExt_AR_Dict_Delete", Native.ORQExt_AR_Dict_Delete, name, "name", true); }
        public bool ArExists(string name) { return Text1("ORQExt_AR_IsDictExist", Native.ORQExt_AR_IsDictExist, name, "name", true) > 0; }
        public int ArLoad(string name) { return Text1("ORQExt_AR_Dict_Load", Native.ORQExt_AR_Dict_Load, name, "name"); }
        public int ArUnload(string name) { return Text1("ORQExt_AR_Dict_Unload", Native.ORQExt_AR_Dict_Unload, name, "name"); }
        public int ArImport(string text) { return Text1("ORQExt_AR_Dict_Import", Native.ORQExt_AR_Dict_Import, text, "text"); }

        /// <summary>The association dictionaries (only the loaded ones with loaded). The list
        /// of all of them is read with AnswerSize bytes as the library reports no length for
        /// it; the loaded ones size themselves. The module's answer as sent.</summary>
        public ServerAnswer ArNames(bool loaded = false)
        {
            if (loaded)
                return codec.Answer(Sized("ORQExt_AR_GetAllDictNameLoaded", (h, b, n) => Native.ORQExt_AR_GetAllDictNameLoaded(h, b, n)));
            int cap = answerSize;
            byte[] buf = new byte[cap];
            var len = new[] { cap };
            Call("ORQExt_AR_GetAllDictName", h => { fixed (byte* pb = buf) fixed (int* pl = len) return Native.ORQExt_AR_GetAllDictName(h, pb, pl); });
            return codec.Answer(Head(buf, len[0], cap));
        }

        /// <summary>The association categories: the module's answer as sent.</summary>
        public ServerAnswer ArCategories()
        {
            return codec.Answer(Sized("ORQExt_AR_GetCategoryName", (h, b, n) => Native.ORQExt_AR_GetCategoryName(h, b, n)));
        }

        /// <summary>Associations of the text's terms and, with categories, the matching
        /// dictionaries' categories.</summary>
        public AssociationResult ArSearch(string text, bool categories = true)
        {
            byte[] t = T(text, "text");
            const string name = "ORQExt_AR_Search";
            byte[][] r = TwoSized(name, (h, a, la, b, lb) => { fixed (byte* pt = t) return Native.ORQExt_AR_Search(h, pt, a, la, b, lb); },
                                  answerSize, categories ? answerSize : 0);
            return new AssociationResult(codec.Answer(r[0]), codec.Answer(categories ? r[1] : new byte[0]));
        }

        // ---- topics (engine 8) ---------------------------------------------------------------

        public int TopicInit(string text = null) { return Text1("ORQExt_TOP_Init", Native.ORQExt_TOP_Init, text, "text", true); }
        public int TopicUninit(string text = null) { return Text1("ORQExt_TOP_UnInit", Native.ORQExt_TOP_UnInit, text, "text", true); }

        public int MakeTopic(string name, string text)
        {
            byte[] n = T(name, "name"), t = T(text, "text");
            return Call("ORQExt_MakeTopDict", h => { fixed (byte* pn = n, pt = t) return Native.ORQExt_MakeTopDict(h, pn, pt); });
        }

        /// <summary>The topic list as the module wrote it. The library reports no length here:
        /// the list is read up to its NUL in AnswerSize bytes (Bytes ends there).</summary>
        public ServerAnswer Topics(int limit = 0)
        {
            int cap = answerSize;
            byte[] buf = new byte[cap];
            Call("ORQExt_TOP_List", h => { fixed (byte* pb = buf) return Native.ORQExt_TOP_List(h, pb, cap, limit); });
            int n = Array.IndexOf(buf, (byte)0);
            return codec.Answer(Head(buf, n < 0 ? cap : n, cap));
        }

        /// <summary>The items of a topic that match the text: the module's answer as sent.</summary>
        public ServerAnswer TopicItems(string topic, string text)
        {
            byte[] a = T(topic, "topic"), b = T(text, "text");
            return codec.Answer(Sized("ORQExt_TOP_GetItem", (h, buf, n) => { fixed (byte* pa = a, pb = b) return Native.ORQExt_TOP_GetItem(h, pa, pb, buf, n); }));
        }

        public int ExportSqlToFile(string statement, string file, int value, string separator)
        {
            byte[] s = T(statement, "statement"), f = T(file, "file"), sep = T(separator, "separator");
            return Call("ORQExt_ExportSqlToFile", h => { fixed (byte* ps = s, pf = f, pp = sep) return Native.ORQExt_ExportSqlToFile(h, ps, pf, value, pp); });
        }
    }
}
