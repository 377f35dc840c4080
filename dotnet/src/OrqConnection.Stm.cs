using System;
using System.Collections.Generic;

namespace ORQExtClient
{
    // The typed calls of the semantic text mining module ("KExt_STM"): the engine,
    // knowledge domains, and the analysers and extractors that work inside a domain
    // (their first argument is the domain handle OpenDomain gives).
    public sealed unsafe partial class OrqConnection
    {
        /// <summary>A StmTextItem array of the documents (texts sent with their length, so
        /// they may hold NUL characters); the texts stay pinned while pins lives.</summary>
        StmTextItem[] Documents(Pins pins, IList<Document> documents, string param)
        {
            if (documents == null) throw new ArgumentNullException(param);
            var arr = new StmTextItem[Math.Max(documents.Count, 1)];
            for (int i = 0; i < documents.Count; ++i)
            {
                Document d = documents[i];
                if (d == null) throw new ArgumentNullException(param);
                byte[] data = codec.Encode(d.Text, param);
                arr[i].id = d.Id;
                arr[i].length = data.Length;
                arr[i].text = pins.Add(data);
            }
            return arr;
        }

        /// <summary>Documents with ids 0, 1, ... for plain texts.</summary>
        public static IList<Document> Numbered(params string[] texts)
        {
            var r = new List<Document>();
            for (int i = 0; i < texts.Length; ++i) r.Add(new Document(i, texts[i]));
            return r;
        }

        // ---- engine and knowledge domains ----------------------------------------------

        public int StmInit() { return Call("ORQExt_STM_Initialize", h => Native.ORQExt_STM_Initialize(h)); }
        public int StmShutdown() { return Call("ORQExt_STM_ShutDown", h => Native.ORQExt_STM_ShutDown(h)); }
        public bool StmInitialized() { return Call("ORQExt_STM_IsInitialized", h => Native.ORQExt_STM_IsInitialized(h)) > 0; }

        public int CreateDomain(string name, string description = null, string keywords = null, string note = null, int value = 0)
        {
            byte[] n = T(name, "name"), d = T(description, "description", true), k = T(keywords, "keywords", true), o = T(note, "note", true);
            return Call("ORQExt_STM_CreateDomain", h => { fixed (byte* pn = n, pd = d, pk = k, po = o) return Native.ORQExt_STM_CreateDomain(h, pn, pd, pk, po, value); });
        }

        public int DeleteDomain(string name) { return Text1("ORQExt_STM_DeleteDomain", Native.ORQExt_STM_DeleteDomain, name, "name"); }

        /// <summary>The knowledge domains' name list (only the open ones with openOnly), as the
        /// module wrote it.</summary>
        public ServerAnswer Domains(bool openOnly = false)
        {
            int mode = openOnly ? 1 : 0;
            return codec.Answer(Sized("ORQExt_STM_GetDomainNameList", (h, b, n) => Native.ORQExt_STM_GetDomainNameList(h, b, n, mode)));
        }

        /// <summary>Opens a domain; returns its handle.</summary>
        public int OpenDomain(string name) { return Text1("ORQExt_STM_OpenDomain", Native.ORQExt_STM_OpenDomain, name, "name"); }
        public int CloseDomain(string name) { return Text1("ORQExt_STM_CloseDomain", Native.ORQExt_STM_CloseDomain, name, "name"); }

        public string DomainName(int domain)
        {
            return codec.UpToNul(Sized("ORQExt_STM_GetDomainName", (h, b, n) => Native.ORQExt_STM_GetDomainName(h, domain, b, n)));
        }

        public int DomainHandle(string name) { return Text1("ORQExt_STM_GetDomainHandle", Native.ORQExt_STM_GetDomainHandle, name, "name"); }

        // ---- analysers ------------------------------------------------------------------

        public int ClassifierInit(int domain, int value = 0) { return Call("ORQExt_STM_TextClassifier_Init", h => Native.ORQExt_STM_TextClassifier_Init(h, domain, value)); }
        public int ClassifierShutdown(int domain) { return Call("ORQExt_STM_TextClassifier_ShutDown", h => Native.ORQExt_STM_TextClassifier_ShutDown(h, domain)); }

        /// <summary>Classifies the documents; the module's answer as it came.</summary>
        public ServerAnswer Classify(int domain, IList<Document> documents, int value1 = 0, int value2 = 0, byte flag = 0)
        {
            const string name = "ORQExt_STM_TextClassifier_Do";
            using (var pins = new Pins())
            {
                StmTextItem[] arr = Documents(pins, documents, "documents");
                var opts = new[] { new StmClassifierOptions { value1 = value1, value2 = value2, flag = flag } };
                return codec.Answer(Sized(name, (h, b, n) =>
                {
                    fixed (StmTextItem* pa = arr)
                    fixed (StmClassifierOptions* po = opts)
                        return Native.ORQExt_STM_TextClassifier_Do(h, domain, b, n, pa, documents.Count, po);
                }));
            }
        }

        public int SimilarityInit() { return Call("ORQExt_STM_Similarity_Initialize", h => Native.ORQExt_STM_Similarity_Initialize(h)); }
        public int SimilarityShutdown() { return Call("ORQExt_STM_Similarity_ShutDown", h => Native.ORQExt_STM_Similarity_ShutDown(h)); }

        /// <summary>The module's similarity score of two texts.</summary>
        public int Similarity(string text1, string text2)
        {
            byte[] a = T(text1, "text1"), b = T(text2, "text2");
            return Call("ORQExt_STM_Similarity_Analyst", h => { fixed (byte* pa = a, pb = b) return Native.ORQExt_STM_Similarity_Analyst(h, pa, pb); });
        }

        public int VsmInit(int domain) { return Call("ORQExt_STM_VSMGenerator_Init", h => Native.ORQExt_STM_VSMGenerator_Init(h, domain)); }
        public int VsmShutdown(int domain) { return Call("ORQExt_STM_VSMGenerator_ShutDown", h => Native.ORQExt_STM_VSMGenerator_ShutDown(h, domain)); }

        /// <summary>Builds the model of the documents; the module's answer as it came.</summary>
        public ServerAnswer VsmBuild(int domain, IList<Document> documents, byte flag = 0, int value1 = 0, int value2 = 0)
        {
            const string name = "ORQExt_STM_VSMGenerator_Do";
            using (var pins = new Pins())
            {
                StmTextItem[] arr = Documents(pins, documents, "documents");
                var opts = new[] { new StmVsmOptions { flag = flag, value1 = value1, value2 = value2 } };
                return codec.Answer(Sized(name, (h, b, n) =>
                {
                    fixed (StmTextItem* pa = arr)
                    fixed (StmVsmOptions* po = opts)
                        return Native.ORQExt_STM_VSMGenerator_Do(h, domain, b, n, pa, documents.Count, po);
                }));
            }
        }

        /// <summary>How similar the documents of the model are to the text; the module's answer as it came.</summary>
        public ServerAnswer VsmSimilar(int domain, string text, byte flag = 0, int value1 = 0, int value2 = 0)
        {
            const string name = "ORQExt_STM_VSMGenerator_GetResult";
            byte[] t = T(text, "text");
            var opts = new[] { new StmVsmOptions { flag = flag, value1 = value1, value2 = value2 } };
            return codec.Answer(Sized(name, (h, b, n) =>
            {
                fixed (byte* pt = t)
                fixed (StmVsmOptions* po = opts)
                    return Native.ORQExt_STM_VSMGenerator_GetResult(h, domain, b, n, pt, po);
            }));
        }

        public int FilterInit(int domain, string words)
        {
            byte[] w = T(words, "words");
            return Call("ORQExt_STM_InfoFilter_Init", h => { fixed (byte* p = w) return Native.ORQExt_STM_InfoFilter_Init(h, domain, p); });
        }

        public int FilterShutdown(int domain) { return Call("ORQExt_STM_InfoFilter_ShutDown", h => Native.ORQExt_STM_InfoFilter_ShutDown(h, domain)); }

        /// <summary>The number the information filter answers for the documents.</summary>
        public int FilterCount(int domain, IList<Document> documents)
        {
            using (var pins = new Pins())
            {
                StmTextItem[] arr = Documents(pins, documents, "documents");
                return Call("ORQExt_STM_InfoFilter_Do", h => { fixed (StmTextItem* pa = arr) return Native.ORQExt_STM_InfoFilter_Do(h, domain, pa, documents.Count); });
            }
        }

        public int TextClusterInit(int domain) { return Call("ORQExt_STM_TextCluster_Init", h => Native.ORQExt_STM_TextCluster_Init(h, domain)); }

        public int TextClusterShutdown(int domain, string name, int value1 = 0, int value2 = 0, int value3 = 0, int value4 = 0)
        {
            var args = new[] { new StmClusterShutdownArgs { value1 = value1, value2 = value2, value3 = value3, value4 = value4 } };
            fixed (StmClusterShutdownArgs* pa = args)
                codec.Fixed(name, pa->name, Native.ORQEXT_STM_CLUSTER_NAME_SIZE, "name");
            return Call("ORQExt_STM_TextCluster_ShutDown", h => { fixed (StmClusterShutdownArgs* pa = args) return Native.ORQExt_STM_TextCluster_ShutDown(h, domain, pa); });
        }

        /// <summary>Adds the documents to the clusterer; the module's status.</summary>
        public int TextCluster(int domain, IList<Document> documents, string exclude = "")
        {
            byte[] e = T(exclude, "exclude");
            using (var pins = new Pins())
            {
                StmTextItem[] arr = Documents(pins, documents, "documents");
                return Call("ORQExt_STM_TextCluster_Do", h => { fixed (StmTextItem* pa = arr) fixed (byte* pe = e) return Native.ORQExt_STM_TextCluster_Do(h, domain, pa, documents.Count, pe); });
            }
        }

        public int KeywordsInit(int domain, int value = 0) { return Call("ORQExt_STM_KeyWordExtractor_Init", h => Native.ORQExt_STM_KeyWordExtractor_Init(h, domain, value)); }
        public int KeywordsShutdown(int domain) { return Call("ORQExt_STM_KeyWordExtractor_ShutDown", h => Native.ORQExt_STM_KeyWordExtractor_ShutDown(h, domain)); }

        /// <summary>The keywords of the documents; the module's answer as it came.</summary>
        public ServerAnswer Keywords(int domain, IList<Document> documents, int number = 0, byte flag = 0)
        {
            const string name = "ORQExt_STM_KeyWordExtractor_Do";
            using (var pins = new Pins())
            {
                StmTextItem[] arr = Documents(pins, documents, "documents");
                var opts = new[] { new StmOptionPair { @value = number, flag = flag } };
                return codec.Answer(Sized(name, (h, b, n) =>
                {
                    fixed (StmTextItem* pa = arr)
                    fixed (StmOptionPair* po = opts)
                        return Native.ORQExt_STM_KeyWordExtractor_Do(h, domain, b, n, pa, documents.Count, po);
                }));
            }
        }

        // ---- extractors -----------------------------------------------------------------

        public int AbstractInit(int domain) { return Call("ORQExt_STM_AbstractExtractor_Initialize", h => Native.ORQExt_STM_AbstractExtractor_Initialize(h, domain)); }
        public int AbstractShutdown(int domain) { return Call("ORQExt_STM_AbstractExtractor_ShutDown", h => Native.ORQExt_STM_AbstractExtractor_ShutDown(h, domain)); }

        /// <summary>An abstract of the text (the module's text).</summary>
        public string Abstract(int domain, string text, int sentences = 1, byte flag = 0, IList<Document> context = null)
        {
            byte[] t = T(text, "text");
            using (var pins = new Pins())
            {
                IList<Document> docs = context ?? new Document[0];
                StmTextItem[] arr = Documents(pins, docs, "context");
                var opts = new[] { new StmOptionPair { @value = sentences, flag = flag } };
                byte[] a = Sized("ORQExt_STM_AbstractExtractor_Do", (h, b, n) =>
                {
                    fixed (byte* pt = t)
                    fixed (StmTextItem* pa = arr)
                    fixed (StmOptionPair* po = opts)
                        return Native.ORQExt_STM_AbstractExtractor_Do(h, domain, pt, b, n, po, pa, docs.Count);
                });
                return codec.Decode(a, 0, a.Length);
            }
        }

        public int AbstractorInit() { return Call("ORQExt_STM_Abstractor_Init", h => Native.ORQExt_STM_Abstractor_Init(h)); }
        public int AbstractorShutdown() { return Call("ORQExt_STM_Abstractor_ShutDown", h => Native.ORQExt_STM_Abstractor_ShutDown(h)); }

        public string Abstractor(string text, int sentences = 1, byte flag = 0, IList<Document> context = null)
        {
            byte[] t = T(text, "text");
            using (var pins = new Pins())
            {
                IList<Document> docs = context ?? new Document[0];
                StmTextItem[] arr = Documents(pins, docs, "context");
                var opts = new[] { new StmOptionPair { @value = sentences, flag = flag } };
                byte[] a = Sized("ORQExt_STM_Abstractor_Do", (h, b, n) =>
                {
                    fixed (byte* pt = t)
                    fixed (StmTextItem* pa = arr)
                    fixed (StmOptionPair* po = opts)
                        return Native.ORQExt_STM_Abstractor_Do(h, pt, b, n, po, pa, docs.Count);
                });
                return codec.Decode(a, 0, a.Length);
            }
        }
    }
}
