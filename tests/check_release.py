"""A release as scripts/release.sh makes it from a commit: the very bytes of the
exe that the other tests run, the sums, and the signature when one is asked for."""
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent


class Release(unittest.TestCase):
    def setUp(self):
        work = Path(tempfile.mkdtemp(prefix='kestrel-release-'))
        self.addCleanup(shutil.rmtree, work)
        self.keys, self.tree = work / 'keys', work / 'release'
        self.dist = self.tree / 'dist'
        self.keys.mkdir()

    def release(self, password='k3strel', **env):
        (self.keys / 'password').write_text(password)
        return subprocess.run(['bash', 'scripts/release.sh'], cwd=self.tree, env=os.environ | env,
                              capture_output=True, text=True)

    def test_release_sums_and_signature(self):
        # What is here, as a commit of its own: a release is made of a commit.
        commit = subprocess.run(['git', '-c', 'user.name=k', '-c', 'user.email=k@localhost', 'stash', 'create'],
                                cwd=SOURCE, capture_output=True, text=True).stdout.strip()
        subprocess.run(['git', 'clone', '-q', SOURCE, self.tree], check=True)
        subprocess.run(['git', 'checkout', '-q', commit or 'HEAD'], cwd=self.tree, check=True)
        self.assertIn('not signed', self.release().stdout)
        # Built again elsewhere, later: the same bytes as the exe under test.
        dist, keys = self.dist, self.keys
        self.assertEqual((dist / 'Kestrel.exe').read_bytes(), Path(os.environ['KESTREL_EXE']).read_bytes())
        self.assertEqual(subprocess.run(['sha256sum', '-c', 'SHA256SUMS'], cwd=dist).returncode, 0)
        with zipfile.ZipFile(dist / 'Kestrel-1.0.0-win32.zip') as archive:
            self.assertEqual(archive.namelist(), ['Kestrel.exe', 'ReadMe.txt'])
            self.assertEqual(archive.read('Kestrel.exe'), (dist / 'Kestrel.exe').read_bytes())
            self.assertRegex(archive.read('ReadMe.txt').decode('cp1252'), r'^Kestrel 1\.0\.0 [^\n]*\r\n(.*\r\n)+$')

        # A throwaway code-signing certificate, its own authority.
        for command in ('req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Kestrel-test -keyout key.pem -out ca.pem '
                        '-addext extendedKeyUsage=codeSigning',
                        'pkcs12 -export -inkey key.pem -in ca.pem -out signer.pfx -passout file:password'):
            subprocess.run(['openssl', *command.split()], cwd=keys, capture_output=True, check=True)
        signer = {'KESTREL_SIGN_PFX': str(keys / 'signer.pfx'), 'KESTREL_SIGN_PASSWORD_FILE': str(keys / 'password')}
        shutil.rmtree(dist)
        wrong = self.release('wrong', **signer)
        self.assertEqual((wrong.returncode, dist.exists()), (1, False))
        self.assertIn('cannot open', wrong.stderr)
        self.assertIn('is signed', self.release(**signer).stdout)
        verify = ['osslsigncode', 'verify', '-CAfile', keys / 'ca.pem', '-in']
        self.assertEqual(subprocess.run(verify + [dist / 'Kestrel.exe'], capture_output=True).returncode, 0)
        tampered = bytearray((dist / 'Kestrel.exe').read_bytes())
        tampered[0x1000] ^= 1
        (keys / 'tampered.exe').write_bytes(tampered)
        self.assertNotEqual(subprocess.run(verify + [keys / 'tampered.exe'], capture_output=True).returncode, 0)


if __name__ == '__main__':
    unittest.main()
