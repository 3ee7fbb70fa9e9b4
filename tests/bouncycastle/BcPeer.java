// BouncyCastle as the peer of pelmo's interoperability tests: one request a line on
// standard input, one answer a line on standard output, so that a single JVM serves a
// whole test program.
//
// A request is a command word and its fields, separated by single spaces; byte strings
// are hexadecimal ("-" for an empty one), numbers decimal. The answer is "ok" followed by
// the result fields in the same notation, or "err" and a one-line description.
//
//   version                                  provider name and version
//   sm3 MSG                                  digest
//   hmac KEY MSG                             HMac(SM3Digest)
//   pbkdf2 PASSWORD SALT ITERATIONS LENGTH   PKCS5S2ParametersGenerator(SM3Digest)
//   hkdf IKM SALT INFO LENGTH                HKDFBytesGenerator(SM3Digest)
//   ecb enc|dec KEY DATA                     SM4, PKCS#7 padding
//   cbc enc|dec KEY IV DATA                  SM4-CBC, PKCS#7 padding
//   ctr KEY IV DATA | ofb KEY IV DATA        SICBlockCipher, OFBBlockCipher(128)
//   cfb enc|dec KEY IV DATA                  CFBBlockCipher(128)
//   gcm|ccm seal|open KEY NONCE AAD TAGLEN DATA   GCMBlockCipher, CCMBlockCipher (TAGLEN bytes)
//   sign der|plain PRIVATE ID MSG            SM2Signer: signature (ID "default": none given)
//   verify der|plain PUBLIC ID MSG SIG       SM2Signer: 1 or 0
//   encrypt c1c2c3|c1c3c2 PUBLIC MSG         SM2Engine: 04 || C1 || ...
//   decrypt c1c2c3|c1c3c2 PRIVATE CT         SM2Engine
//   keyout PRIVATE                           PKCS#8 and SubjectPublicKeyInfo, written by the
//                                            lightweight factories and by the JCA provider
//   keyin PKCS8 SPKI                         both read by the JCA provider and the lightweight
//                                            factories: private key, public key (04 || x || y)
//   kx init|resp PRIVATE EPHEMERAL ID PEER_PUBLIC PEER_EPHEMERAL PEER_ID KLEN CONFIRM
//        SM2KeyExchange (KLEN bytes): K from calculateKey, then what
//        calculateKeyWithConfirmation returns (CONFIRM is the tag handed to it)
//
// PRIVATE and EPHEMERAL are big-endian scalars; PUBLIC points are 04 || x || y.
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.security.KeyFactory;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.Security;
import java.security.spec.PKCS8EncodedKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.ArrayList;
import java.util.List;
import org.bouncycastle.asn1.gm.GMNamedCurves;
import org.bouncycastle.asn1.gm.GMObjectIdentifiers;
import org.bouncycastle.crypto.BlockCipher;
import org.bouncycastle.crypto.BufferedBlockCipher;
import org.bouncycastle.crypto.CipherParameters;
import org.bouncycastle.crypto.StreamCipher;
import org.bouncycastle.crypto.agreement.SM2KeyExchange;
import org.bouncycastle.crypto.digests.SM3Digest;
import org.bouncycastle.crypto.engines.SM2Engine;
import org.bouncycastle.crypto.engines.SM4Engine;
import org.bouncycastle.crypto.generators.HKDFBytesGenerator;
import org.bouncycastle.crypto.generators.PKCS5S2ParametersGenerator;
import org.bouncycastle.crypto.macs.HMac;
import org.bouncycastle.crypto.modes.AEADBlockCipher;
import org.bouncycastle.crypto.modes.CBCBlockCipher;
import org.bouncycastle.crypto.modes.CCMBlockCipher;
import org.bouncycastle.crypto.modes.CFBBlockCipher;
import org.bouncycastle.crypto.modes.GCMBlockCipher;
import org.bouncycastle.crypto.modes.OFBBlockCipher;
import org.bouncycastle.crypto.modes.SICBlockCipher;
import org.bouncycastle.crypto.paddings.PKCS7Padding;
import org.bouncycastle.crypto.paddings.PaddedBufferedBlockCipher;
import org.bouncycastle.crypto.params.AEADParameters;
import org.bouncycastle.crypto.params.ECNamedDomainParameters;
import org.bouncycastle.crypto.params.ECPrivateKeyParameters;
import org.bouncycastle.crypto.params.ECPublicKeyParameters;
import org.bouncycastle.crypto.params.HKDFParameters;
import org.bouncycastle.crypto.params.KeyParameter;
import org.bouncycastle.crypto.params.ParametersWithID;
import org.bouncycastle.crypto.params.ParametersWithIV;
import org.bouncycastle.crypto.params.ParametersWithRandom;
import org.bouncycastle.crypto.params.SM2KeyExchangePrivateParameters;
import org.bouncycastle.crypto.params.SM2KeyExchangePublicParameters;
import org.bouncycastle.crypto.signers.DSAEncoding;
import org.bouncycastle.crypto.signers.PlainDSAEncoding;
import org.bouncycastle.crypto.signers.SM2Signer;
import org.bouncycastle.crypto.signers.StandardDSAEncoding;
import org.bouncycastle.crypto.util.PrivateKeyFactory;
import org.bouncycastle.crypto.util.PrivateKeyInfoFactory;
import org.bouncycastle.crypto.util.PublicKeyFactory;
import org.bouncycastle.crypto.util.SubjectPublicKeyInfoFactory;
import org.bouncycastle.jcajce.provider.asymmetric.ec.BCECPrivateKey;
import org.bouncycastle.jcajce.provider.asymmetric.ec.BCECPublicKey;
import org.bouncycastle.jce.ECNamedCurveTable;
import org.bouncycastle.jce.provider.BouncyCastleProvider;
import org.bouncycastle.jce.spec.ECNamedCurveParameterSpec;
import org.bouncycastle.jce.spec.ECPrivateKeySpec;
import org.bouncycastle.jce.spec.ECPublicKeySpec;
import org.bouncycastle.math.ec.ECPoint;
import org.bouncycastle.util.encoders.Hex;

public final class BcPeer {
    private static final ECNamedDomainParameters SM2 = new ECNamedDomainParameters(
        GMObjectIdentifiers.sm2p256v1, GMNamedCurves.getByName("sm2p256v1"));
    private static final SecureRandom RANDOM = new SecureRandom();

    public static void main(String[] args) throws Exception {
        BufferedReader in =
            new BufferedReader(new InputStreamReader(System.in, StandardCharsets.US_ASCII));
        PrintStream out = new PrintStream(System.out, false, StandardCharsets.US_ASCII);
        for (String line; (line = in.readLine()) != null;) {
            String answer;
            try {
                answer = "ok" + String.join("", prefixed(handle(line.split(" "))));
            } catch (Exception e) {
                answer = ("err " + e).replace('\n', ' ').replace('\r', ' ');
            }
            out.print(answer + "\n");
            out.flush();
        }
    }

    // The JCA provider costs a noticeable part of the start-up: registered on first use.
    private static KeyFactory ecKeyFactory() throws Exception {
        if (Security.getProvider("BC") == null) Security.addProvider(new BouncyCastleProvider());
        return KeyFactory.getInstance("EC", "BC");
    }

    private static List<String> prefixed(List<String> fields) {
        List<String> r = new ArrayList<>();
        for (String f : fields) r.add(" " + f);
        return r;
    }

    private static byte[] bytes(String field) {
        return field.equals("-") ? new byte[0] : Hex.decode(field);
    }

    private static String hex(byte[] b) { return b.length == 0 ? "-" : Hex.toHexString(b); }

    private static BigInteger scalar(String field) { return new BigInteger(1, bytes(field)); }

    private static ECPoint point(String field) { return SM2.getCurve().decodePoint(bytes(field)); }

    private static boolean flag(String field, String yes, String no) {
        if (field.equals(yes)) return true;
        if (field.equals(no)) return false;
        throw new IllegalArgumentException("expected " + yes + " or " + no + ": " + field);
    }

    private static List<String> handle(String[] f) throws Exception {
        List<String> r = new ArrayList<>();
        switch (f[0]) {
            case "version": {
                BouncyCastleProvider p = new BouncyCastleProvider();
                r.add(p.getName());
                r.add(p.getVersionStr());
                break;
            }
            case "sm3": {
                SM3Digest d = new SM3Digest();
                byte[] m = bytes(f[1]);
                d.update(m, 0, m.length);
                byte[] o = new byte[d.getDigestSize()];
                d.doFinal(o, 0);
                r.add(hex(o));
                break;
            }
            case "hmac": {
                HMac mac = new HMac(new SM3Digest());
                mac.init(new KeyParameter(bytes(f[1])));
                byte[] m = bytes(f[2]);
                mac.update(m, 0, m.length);
                byte[] o = new byte[mac.getMacSize()];
                mac.doFinal(o, 0);
                r.add(hex(o));
                break;
            }
            case "pbkdf2": {
                PKCS5S2ParametersGenerator g = new PKCS5S2ParametersGenerator(new SM3Digest());
                g.init(bytes(f[1]), bytes(f[2]), Integer.parseInt(f[3]));
                int len = Integer.parseInt(f[4]);
                r.add(hex(((KeyParameter) g.generateDerivedParameters(8 * len)).getKey()));
                break;
            }
            case "hkdf": {
                HKDFBytesGenerator g = new HKDFBytesGenerator(new SM3Digest());
                g.init(new HKDFParameters(bytes(f[1]), bytes(f[2]), bytes(f[3])));
                byte[] o = new byte[Integer.parseInt(f[4])];
                g.generateBytes(o, 0, o.length);
                r.add(hex(o));
                break;
            }
            case "ecb":
            case "cbc": {
                boolean enc = flag(f[1], "enc", "dec");
                boolean cbc = f[0].equals("cbc");
                BlockCipher mode = cbc ? new CBCBlockCipher(new SM4Engine()) : new SM4Engine();
                BufferedBlockCipher c = new PaddedBufferedBlockCipher(mode, new PKCS7Padding());
                KeyParameter key = new KeyParameter(bytes(f[2]));
                c.init(enc, cbc ? new ParametersWithIV(key, bytes(f[3])) : key);
                r.add(hex(buffered(c, bytes(f[cbc ? 4 : 3]))));
                break;
            }
            case "ctr":
            case "ofb":
            case "cfb": {
                boolean cfb = f[0].equals("cfb");
                boolean enc = !cfb || flag(f[1], "enc", "dec");
                int at = cfb ? 2 : 1;
                StreamCipher c = new OFBBlockCipher(new SM4Engine(), 128);
                if (cfb) c = new CFBBlockCipher(new SM4Engine(), 128);
                if (f[0].equals("ctr")) c = new SICBlockCipher(new SM4Engine());
                c.init(enc, new ParametersWithIV(new KeyParameter(bytes(f[at])), bytes(f[at + 1])));
                byte[] in = bytes(f[at + 2]);
                byte[] o = new byte[in.length];
                c.processBytes(in, 0, in.length, o, 0);
                r.add(hex(o));
                break;
            }
            case "gcm":
            case "ccm": {
                boolean seal = flag(f[1], "seal", "open");
                AEADBlockCipher c = f[0].equals("gcm") ? new GCMBlockCipher(new SM4Engine())
                                                       : new CCMBlockCipher(new SM4Engine());
                c.init(seal,
                    new AEADParameters(new KeyParameter(bytes(f[2])), 8 * Integer.parseInt(f[5]),
                        bytes(f[3]), bytes(f[4])));
                byte[] in = bytes(f[6]);
                byte[] o = new byte[c.getOutputSize(in.length)];
                int n = c.processBytes(in, 0, in.length, o, 0);
                n += c.doFinal(o, n);
                r.add(hex(java.util.Arrays.copyOf(o, n)));
                break;
            }
            case "sign":
            case "verify": {
                boolean sign = f[0].equals("sign");
                DSAEncoding encoding = flag(f[1], "der", "plain") ? StandardDSAEncoding.INSTANCE
                                                                  : PlainDSAEncoding.INSTANCE;
                SM2Signer s = new SM2Signer(encoding);
                CipherParameters key;
                if (sign)
                    key = new ParametersWithRandom(
                        new ECPrivateKeyParameters(scalar(f[2]), SM2), RANDOM);
                else
                    key = new ECPublicKeyParameters(point(f[2]), SM2);
                // "default": no identity given, so the signer's own default applies.
                s.init(sign, f[3].equals("default") ? key : new ParametersWithID(key, bytes(f[3])));
                byte[] m = bytes(f[4]);
                s.update(m, 0, m.length);
                if (sign)
                    r.add(hex(s.generateSignature()));
                else
                    r.add(s.verifySignature(bytes(f[5])) ? "1" : "0");
                break;
            }
            case "encrypt":
            case "decrypt": {
                boolean enc = f[0].equals("encrypt");
                SM2Engine e = new SM2Engine(
                    flag(f[1], "c1c2c3", "c1c3c2") ? SM2Engine.Mode.C1C2C3 : SM2Engine.Mode.C1C3C2);
                if (enc)
                    e.init(true,
                        new ParametersWithRandom(
                            new ECPublicKeyParameters(point(f[2]), SM2), RANDOM));
                else
                    e.init(false, new ECPrivateKeyParameters(scalar(f[2]), SM2));
                byte[] in = bytes(f[3]);
                r.add(hex(e.processBlock(in, 0, in.length)));
                break;
            }
            case "keyout": {
                BigInteger d = scalar(f[1]);
                ECPrivateKeyParameters priv = new ECPrivateKeyParameters(d, SM2);
                ECPublicKeyParameters pub =
                    new ECPublicKeyParameters(SM2.getG().multiply(d).normalize(), SM2);
                r.add(hex(PrivateKeyInfoFactory.createPrivateKeyInfo(priv).getEncoded("DER")));
                r.add(hex(
                    SubjectPublicKeyInfoFactory.createSubjectPublicKeyInfo(pub).getEncoded("DER")));
                ECNamedCurveParameterSpec curve = ECNamedCurveTable.getParameterSpec("sm2p256v1");
                KeyFactory kf = ecKeyFactory();
                r.add(hex(kf.generatePrivate(new ECPrivateKeySpec(d, curve)).getEncoded()));
                r.add(hex(kf.generatePublic(new ECPublicKeySpec(pub.getQ(), curve)).getEncoded()));
                break;
            }
            case "keyin": {
                KeyFactory kf = ecKeyFactory();
                PrivateKey priv = kf.generatePrivate(new PKCS8EncodedKeySpec(bytes(f[1])));
                PublicKey pub = kf.generatePublic(new X509EncodedKeySpec(bytes(f[2])));
                r.add(hex(fixed(((BCECPrivateKey) priv).getD())));
                r.add(hex(((BCECPublicKey) pub).getQ().getEncoded(false)));
                r.add(hex(fixed(
                    ((ECPrivateKeyParameters) PrivateKeyFactory.createKey(bytes(f[1]))).getD())));
                r.add(hex(((ECPublicKeyParameters) PublicKeyFactory.createKey(bytes(f[2])))
                              .getQ()
                              .getEncoded(false)));
                break;
            }
            case "kx": {
                boolean initiator = flag(f[1], "init", "resp");
                SM2KeyExchangePrivateParameters own = new SM2KeyExchangePrivateParameters(initiator,
                    new ECPrivateKeyParameters(scalar(f[2]), SM2),
                    new ECPrivateKeyParameters(scalar(f[3]), SM2));
                SM2KeyExchangePublicParameters peer =
                    new SM2KeyExchangePublicParameters(new ECPublicKeyParameters(point(f[5]), SM2),
                        new ECPublicKeyParameters(point(f[6]), SM2));
                int klenBits = 8 * Integer.parseInt(f[8]);
                SM2KeyExchange kx = new SM2KeyExchange();
                kx.init(new ParametersWithID(own, bytes(f[4])));
                r.add(hex(kx.calculateKey(klenBits, new ParametersWithID(peer, bytes(f[7])))));
                kx = new SM2KeyExchange();
                kx.init(new ParametersWithID(own, bytes(f[4])));
                byte[] tag = f[9].equals("-") ? null : bytes(f[9]);
                for (byte[] b : kx.calculateKeyWithConfirmation(
                         klenBits, tag, new ParametersWithID(peer, bytes(f[7]))))
                    r.add(hex(b));
                break;
            }
            default:
                throw new IllegalArgumentException("unknown command " + f[0]);
        }
        return r;
    }

    private static byte[] buffered(BufferedBlockCipher c, byte[] in) throws Exception {
        byte[] o = new byte[c.getOutputSize(in.length)];
        int n = c.processBytes(in, 0, in.length, o, 0);
        n += c.doFinal(o, n);
        return java.util.Arrays.copyOf(o, n);
    }

    // A scalar as exactly 32 big-endian bytes.
    private static byte[] fixed(BigInteger v) {
        byte[] raw = v.toByteArray();
        byte[] o = new byte[32];
        int n = Math.min(raw.length, 32);
        System.arraycopy(raw, raw.length - n, o, 32 - n, n);
        return o;
    }
}
