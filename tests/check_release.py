"""A release as scripts/release.sh makes it from a commit, signed as a publisher
signs: through a PKCS#11 token (SoftHSM2) with an RFC 3161 time stamp from an
authority on 127.0.0.1, or from a PKCS#12 file; its certificate checked first."""
import datetime
import http.server
import os
import shutil
import subprocess
import tempfile
import threading
import time
import unittest
import zipfile
from pathlib import Path

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.serialization import pkcs12
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

SOURCE = Path(__file__).resolve().parent.parent
MODULE = '/usr/lib/softhsm/libsofthsm2.so'
PIN = '417305'
NOW = datetime.datetime.now(datetime.timezone.utc)
DAY = datetime.timedelta(days=1)


def pem(certificate):
    return certificate.public_bytes(serialization.Encoding.PEM)


def issue(authority, key, public_key, name, usage=(ExtendedKeyUsageOID.CODE_SIGNING,), start=-DAY / 24, days=3,
          critical=False):
    """A certificate for public_key from the authority (certificate, key; none: its own), valid from start for days."""
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, name)])
    builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(authority.subject if authority else subject)
               .public_key(public_key).serial_number(x509.random_serial_number())
               .not_valid_before(NOW + start).not_valid_after(NOW + start + days * DAY))
    if authority is None:
        builder = builder.add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
    if usage:
        builder = builder.add_extension(x509.ExtendedKeyUsage(list(usage)), critical=critical)
    return builder.sign(key, hashes.SHA256())


def run(*command, **options):
    return subprocess.run(command, capture_output=True, check=True, **options).stdout


class Authority(http.server.BaseHTTPRequestHandler):
    """An RFC 3161 time-stamp authority: each request answered by openssl ts, but on /fail, where it is down."""
    def do_POST(self):
        query = Path(self.server.folder, 'query')
        query.write_bytes(self.rfile.read(int(self.headers['Content-Length'])))
        if self.path == '/fail':
            self.send_response(503)
            self.end_headers()
            return
        reply = run('openssl', 'ts', '-reply', '-config', self.server.config, '-queryfile', query)
        self.send_response(200)
        self.send_header('Content-Type', 'application/timestamp-reply')
        self.send_header('Content-Length', str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *_):
        pass


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = cls.work = Path(cls.enterClassContext(tempfile.TemporaryDirectory(prefix='kestrel-release-')))
        keys = cls.keys = work / 'keys'
        keys.mkdir()
        # What is here, as a commit of its own: a release is made of a commit. With nothing to
        # save, stash create may end with 1 and print nothing (a fresh clone's index, here).
        stash = subprocess.run(['git', '-c', 'user.name=k', '-c', 'user.email=k@localhost', 'stash', 'create'],
                               cwd=SOURCE, capture_output=True, text=True)
        assert stash.returncode in (0, 1) and not stash.stderr, stash.stderr
        commit = stash.stdout
        cls.tree = work / 'release'
        run('git', 'clone', '-q', SOURCE, cls.tree)
        run('git', 'checkout', '-q', commit.strip() or 'HEAD', cwd=cls.tree)

        # The test authority, and a time-stamp authority it certifies, answering on a port of its own.
        cls.ca_key, tsa_key = (rsa.generate_private_key(public_exponent=65537, key_size=2048) for _ in range(2))
        cls.ca = issue(None, cls.ca_key, cls.ca_key.public_key(), 'Kestrel test authority', usage=(), days=60)
        (keys / 'ca.pem').write_bytes(pem(cls.ca))
        (keys / 'tsa.key').write_bytes(tsa_key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat
                                                              .PKCS8, serialization.NoEncryption()))
        (keys / 'tsa.pem').write_bytes(pem(issue(cls.ca, cls.ca_key, tsa_key.public_key(), 'Kestrel test TSA', days=60,
                                                 usage=(ExtendedKeyUsageOID.TIME_STAMPING,), critical=True)))
        (keys / 'tsa.serial').write_text('01\n')
        (keys / 'tsa.cnf').write_text(
            f'[tsa]\ndefault_tsa = kestrel\n[kestrel]\nserial = {keys}/tsa.serial\nsigner_cert = {keys}/tsa.pem\n'
            f'signer_key = {keys}/tsa.key\nsigner_digest = sha256\ndefault_policy = 1.3.6.1.4.1.4146.2.3\n'
            'digests = sha256\ness_cert_id_alg = sha256\n')
        server = http.server.HTTPServer(('127.0.0.1', 0), Authority)
        server.folder, server.config = keys, str(keys / 'tsa.cnf')
        threading.Thread(target=server.serve_forever, daemon=True).start()
        cls.addClassCleanup(server.server_close)
        cls.addClassCleanup(server.shutdown)
        cls.stamp = f'http://127.0.0.1:{server.server_port}'

        # A token in this folder, its keys made inside it; the signer's certificate stored beside its key.
        (work / 'tokens').mkdir()
        (work / 'softhsm2.conf').write_text(f'directories.tokendir = {work}/tokens\n')
        cls.env = os.environ | {'SOFTHSM2_CONF': str(work / 'softhsm2.conf')}
        run('softhsm2-util', '--init-token', '--free', '--label', 'kestrel', '--pin', PIN, '--so-pin', '900417',
            env=cls.env)
        p11 = ['p11tool', '--provider', MODULE, '--login', 'pkcs11:token=kestrel']
        token = cls.env | {'GNUTLS_PIN': PIN}
        cls.public = {}
        for label, kind in ('signer', 'rsa'), ('other', 'rsa'), ('curve', 'ecdsa'):
            run(*p11, f'--generate-privkey={kind}', '--bits=2048' * (kind == 'rsa') or '--curve=secp256r1',
                f'--label={label}', env=token)
            cls.public[label] = serialization.load_pem_public_key(
                run('p11tool', '--provider', MODULE, '--export', f'pkcs11:token=kestrel;object={label};type=public',
                    env=token))
        (keys / 'signer.pem').write_bytes(pem(issue(cls.ca, cls.ca_key, cls.public['signer'], 'Kestrel test signer')))
        run(*p11, '--write', '--load-certificate', keys / 'signer.pem', '--label=signer', env=token)

        # Each program the release runs, logged with its arguments, as ps would show them.
        cls.log = work / 'commands.log'
        (work / 'shims').mkdir()
        for program in 'cmake', 'openssl', 'osslsigncode', 'p11tool':
            shim = work / 'shims' / program
            shim.write_text(f'#!/bin/sh\necho "{program} $*" >>{cls.log}\nexec {shutil.which(program)} "$@"\n')
            shim.chmod(0o755)
        cls.env['PATH'] = f'{work}/shims:{os.environ["PATH"]}'

    def setUp(self):
        self.dist = self.tree / 'dist'
        shutil.rmtree(self.dist, ignore_errors=True)
        self.log.write_text('')
        (self.keys / 'pin').write_text(PIN + '\n')

    def release(self, **env):
        return subprocess.run(['bash', 'scripts/release.sh'], cwd=self.tree, env=self.env | env,
                              capture_output=True, text=True)

    def token(self, key='signer', **env):
        return {'KESTREL_SIGN_PKCS11_MODULE': MODULE, 'KESTREL_SIGN_PIN_FILE': str(self.keys / 'pin'),
                'KESTREL_SIGN_KEY': f'pkcs11:token=kestrel;object={key};type=private'} | env

    def verify(self, exe, days=0):
        at = ['-time', str(int(time.time() + days * 86400))] if days else []
        return subprocess.run(['osslsigncode', 'verify', '-CAfile', self.keys / 'ca.pem', '-TSA-CAfile',
                               self.keys / 'ca.pem', *at, '-in', exe], capture_output=True, text=True)

    def test_token_release_is_time_stamped_and_rebuilt_from_its_detached_signature(self):
        made = self.release(**self.token(KESTREL_SIGN_TIMESTAMP_URL=self.stamp))
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertIn('signed by CN=Kestrel test signer, time-stamped by', made.stdout)
        self.assertRegex(made.stderr, r'warning: the certificate CN=Kestrel test signer ends within 30 days, on '
                                      r'\d{4}-\d\d-\d\d\n')
        exe = self.dist / 'Kestrel.exe'
        verified = self.verify(exe)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn('Subject: /CN=Kestrel test signer', verified.stdout)
        self.assertRegex(verified.stdout, r'(Timestamp time|The signature is timestamped): \w+ +\d+ [\d:]+ \d{4} GMT')
        # Its certificate ended a week ago: the time stamp keeps the signature valid.
        self.assertEqual(self.verify(exe, days=10).returncode, 0)
        # The signature alone, attached to the commit's build under test, gives the released bytes.
        self.assertEqual(run('sha256sum', '-c', 'SHA256SUMS', cwd=self.dist, text=True).split('\n'),
                         ['Kestrel-1.0.0-win32.zip: OK', 'Kestrel.exe: OK', 'Kestrel.exe.sig: OK', ''])
        attached = self.work / 'attached.exe'
        run('osslsigncode', 'attach-signature', '-sigin', self.dist / 'Kestrel.exe.sig', '-CAfile', self.keys / 'ca.pem',
            '-TSA-CAfile', self.keys / 'ca.pem', '-in', os.environ['KESTREL_EXE'], '-out', attached)
        self.assertEqual(attached.read_bytes(), exe.read_bytes())
        with zipfile.ZipFile(self.dist / 'Kestrel-1.0.0-win32.zip') as archive:
            self.assertEqual(archive.namelist(), ['Kestrel.exe', 'ReadMe.txt'])
            self.assertEqual(archive.read('Kestrel.exe'), exe.read_bytes())
            self.assertRegex(archive.read('ReadMe.txt').decode('ascii'), r'^Kestrel 1\.0\.0 [^\n]*\r\n(.*\r\n)+$')
        # The PIN was read from its file only: on no command line, in no output.
        commands = self.log.read_text()
        self.assertIn('osslsigncode sign', commands)
        self.assertNotIn(PIN, commands + made.stdout + made.stderr)

    def test_refused_signers_stop_the_release_before_the_build(self):
        (self.keys / 'wrong').write_text('000000\n')
        small = rsa.generate_private_key(public_exponent=65537, key_size=1024).public_key()
        signer = "pkcs11:token=kestrel;object=signer;type=private"
        # Each: the certificate's name, key and terms (none: the token's own), the release's settings, its refusal.
        cases = [('Old signer', 'signer', {'start': -4 * DAY}, {}, 'expired on '),
                 ('Early signer', 'signer', {'start': DAY}, {}, 'is not valid before '),
                 ('Any signer', 'signer', {'usage': (ExtendedKeyUsageOID.SERVER_AUTH,)}, {},
                  'has no code-signing extended key usage'),
                 ('Curve signer', 'curve', {}, {'key': 'curve'}, 'is not for an RSA key of at least 2048'),
                 ('Small signer', small, {}, {}, 'is not for an RSA key of at least 2048'),
                 ('Other signer', 'other', {}, {}, f"is not the certificate of {signer}'s key"),
                 (None, None, None, {'KESTREL_SIGN_PIN_FILE': str(self.keys / 'wrong')}, 'the token refused the PIN'),
                 (None, None, None, {'KESTREL_SIGN_KEY': f'{signer};pin-value={PIN}'}, 'KESTREL_SIGN_KEY holds a PIN')]
        self.dist.mkdir()
        (self.dist / 'earlier').write_text('a release before')
        for name, public, terms, env, message in cases:
            with self.subTest(name or message):
                self.log.write_text('')
                if name:
                    certificate = self.keys / 'refused.pem'
                    certificate.write_bytes(pem(issue(self.ca, self.ca_key, self.public.get(public, public), name,
                                                      **terms)))
                    env, message = {'KESTREL_SIGN_CERTS': str(certificate)} | env, f'the certificate CN={name} {message}'
                refused = self.release(**self.token(**env))
                self.assertEqual((refused.returncode, refused.stdout), (1, ''))
                self.assertRegex(refused.stderr, f'^release: {message}[^\n]*\n$')
                self.assertNotIn('cmake', self.log.read_text())
                self.assertEqual(os.listdir(self.dist), ['earlier'])
        # A time stamp asked for with nothing to sign, or one that fails, stops it too.
        self.assertIn('but no key to sign with', self.release(KESTREL_SIGN_TIMESTAMP_URL=self.stamp).stderr)
        failed = self.release(**self.token(KESTREL_SIGN_TIMESTAMP_URL=self.stamp + '/fail'))
        self.assertEqual(failed.returncode, 1)
        self.assertIn('(or the time stamp from http://127.0.0.1:', failed.stderr)
        self.assertEqual(os.listdir(self.dist), ['earlier'])

    def test_pkcs12_release_without_a_time_stamp_ends_with_its_certificate(self):
        key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
        (self.keys / 'signer.pfx').write_bytes(pkcs12.serialize_key_and_certificates(
            b'signer', key, issue(self.ca, self.ca_key, key.public_key(), 'Kestrel file signer'), None,
            serialization.BestAvailableEncryption(b'k3strel')))
        signer = {'KESTREL_SIGN_PFX': str(self.keys / 'signer.pfx'),
                  'KESTREL_SIGN_PASSWORD_FILE': str(self.keys / 'password')}
        (self.keys / 'password').write_text('wrong')
        wrong = self.release(**signer)
        self.assertEqual((wrong.returncode, self.dist.exists()), (1, False))
        self.assertIn('cannot open', wrong.stderr)
        (self.keys / 'password').write_text('k3strel')
        made = self.release(**signer)
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertRegex(made.stdout, r'no time stamp \(KESTREL_SIGN_TIMESTAMP_URL\): the signature ends with the '
                                      r'certificate, on \d{4}-\d\d-\d\d\n')
        exe = self.dist / 'Kestrel.exe'
        self.assertEqual(self.verify(exe).returncode, 0)
        at_end = self.verify(exe, days=10)
        self.assertEqual(at_end.returncode, 1)
        self.assertIn('certificate has expired', at_end.stdout + at_end.stderr)
        tampered = bytearray(exe.read_bytes())
        tampered[0x1000] ^= 1
        (self.keys / 'tampered.exe').write_bytes(tampered)
        self.assertNotEqual(self.verify(self.keys / 'tampered.exe').returncode, 0)
