using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;

namespace ORQExtClient
{
    /// <summary>Turns the caller's strings into the bytes the library takes and its answers
    /// back into strings, with one Encoding (UTF-8 unless the caller chooses another; never
    /// the platform's ANSI code page by accident). A text the encoding cannot represent is
    /// refused, never sent altered; answer bytes the encoding cannot read become U+FFFD.</summary>
    internal sealed class TextCodec
    {
        readonly Encoding encoder, decoder;

        internal TextCodec(Encoding encoding)
        {
            Encoding = encoding ?? new UTF8Encoding(false);
            encoder = (Encoding)Encoding.Clone();
            encoder.EncoderFallback = EncoderFallback.ExceptionFallback;
            decoder = (Encoding)Encoding.Clone();
            decoder.DecoderFallback = new DecoderReplacementFallback("\uFFFD");
        }

        internal Encoding Encoding { get; }

        /// <summary>A NUL-terminated text argument; null stays null where optional.</summary>
        internal byte[] Text(string value, string param, bool optional = false)
        {
            if (value == null)
            {
                if (optional) return null;
                throw new ArgumentNullException(param);
            }
            byte[] data = Encode(value, param);
            if (Array.IndexOf(data, (byte)0) >= 0)
                throw new ArgumentException("the text holds a NUL byte, where the library would cut it", param);
            byte[] z = new byte[data.Length + 1];
            Buffer.BlockCopy(data, 0, z, 0, data.Length);
            return z;
        }

        /// <summary>Bytes of any content (payloads, texts sent with their length).</summary>
        internal byte[] Encode(string value, string param)
        {
            if (value == null) throw new ArgumentNullException(param);
            try
            {
                return encoder.GetBytes(value);
            }
            catch (EncoderFallbackException e)
            {
                throw new ArgumentException("not encodable with " + Encoding.WebName + ": " + e.Message, param, e);
            }
        }

        /// <summary>A text for a fixed char[size] field (its NUL included): never cut.</summary>
        internal unsafe void Fixed(string value, byte* field, int size, string param)
        {
            byte[] z = Text(value ?? "", param);
            if (z.Length > size)
                throw new ArgumentException("longer than " + (size - 1) + " bytes", param);
            for (int i = 0; i < size; ++i) field[i] = i < z.Length ? z[i] : (byte)0;
        }

        /// <summary>The text of a fixed char[size] field, up to its first NUL.</summary>
        internal unsafe string FromFixed(byte* field, int size)
        {
            int n = 0;
            while (n < size && field[n] != 0) ++n;
            return n == 0 ? "" : decoder.GetString(field, n);
        }

        internal string Decode(byte[] data, int offset, int count)
        {
            return decoder.GetString(data, offset, count);
        }

        /// <summary>A text answer: up to its first NUL.</summary>
        internal string UpToNul(byte[] data)
        {
            int n = Array.IndexOf(data, (byte)0);
            return Decode(data, 0, n < 0 ? data.Length : n);
        }

        /// <summary>An answer in the server module's own layout, handed back untouched.</summary>
        internal ServerAnswer Answer(byte[] data)
        {
            return new ServerAnswer(data, UpToNul(data));
        }
    }

    /// <summary>Byte arrays pinned while a call uses their addresses (texts inside records and
    /// arrays of text pointers).</summary>
    internal sealed class Pins : IDisposable
    {
        readonly List<GCHandle> handles = new List<GCHandle>();

        internal IntPtr Add(byte[] data)
        {
            if (data == null) return IntPtr.Zero;
            // A zero-length array still needs an address the library can read.
            if (data.Length == 0) data = new byte[1];
            GCHandle h = GCHandle.Alloc(data, GCHandleType.Pinned);
            handles.Add(h);
            return h.AddrOfPinnedObject();
        }

        public void Dispose()
        {
            foreach (GCHandle h in handles) h.Free();
            handles.Clear();
        }
    }
}
