"""pytest fixtures for the quoll:// tests: the RADOS Gateway, boto3, the
fault proxy, and connections of pyorvik to them.

The gateway is started once per test session by rgw.sh (about 15 s) and
stopped at the end if this session started it; its logs are kept when a
test failed. Each test gets a prefix of its own in one session bucket, so
no test sees another's objects and nothing needs wiping in between.
"""
import os
import subprocess
import uuid

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
RGW_SCRIPT = os.path.join(HERE, "rgw.sh")
ENDPOINT = "http://127.0.0.1:7480"
ACCESS_KEY = "OVKTESTACCESSKEY0001"
SECRET_KEY = "ovkTestSecretKey/0001+forLoopbackOnly"
BUCKET = "ovk-python"


class Gateway:
    endpoint = ENDPOINT
    access_key = ACCESS_KEY
    secret_key = SECRET_KEY
    bucket = BUCKET

    def boto3_client(self, endpoint=None, secret=None, **config):
        import boto3
        from botocore.config import Config as BotoConfig
        return boto3.client(
            "s3", endpoint_url=endpoint or self.endpoint,
            aws_access_key_id=self.access_key,
            aws_secret_access_key=secret or self.secret_key,
            region_name="us-east-1",
            config=BotoConfig(s3={"addressing_style": "path"},
                              request_checksum_calculation="when_required",
                              response_checksum_validation="when_required",
                              retries={"max_attempts": 1}, **config))


def start_gateway(session=None):
    already = subprocess.run([RGW_SCRIPT, "status"]).returncode == 0
    result = subprocess.run([RGW_SCRIPT, "start"], capture_output=True, text=True)
    if result.returncode != 0:
        pytest.fail("the RADOS Gateway did not start:\n" + result.stderr, pytrace=False)
    gateway = Gateway()
    client = gateway.boto3_client()
    try:
        client.create_bucket(Bucket=BUCKET)
    except client.exceptions.BucketAlreadyOwnedByYou:
        pass
    return gateway, not already


@pytest.fixture(scope="session")
def rgw(request):
    gateway, started_here = start_gateway()
    yield gateway
    if started_here:
        env = dict(os.environ)
        if request.session.testsfailed:
            env["OVK_RGW_KEEP_LOGS"] = "1"
        subprocess.run([RGW_SCRIPT, "stop"], env=env)


@pytest.fixture
def s3(rgw):
    """A boto3 client of the gateway: the independent reader and writer."""
    return rgw.boto3_client()


@pytest.fixture
def prefix(request):
    """A key prefix of this test's own, without a final "/"."""
    return "t-%s-%s" % (request.node.name[:40].replace("[", "-").replace("]", ""),
                        uuid.uuid4().hex[:8])


def quoll_config(endpoint, secret=SECRET_KEY, **extra):
    import pyorvik
    config = pyorvik.Config()
    config.set("fs.quoll.endpoint", endpoint)
    config.set("fs.quoll.accessKeyId", ACCESS_KEY)
    config.set("fs.quoll.accessKeySecret", secret)
    for key, value in extra.items():
        config.set(key, str(value))
    return config


@pytest.fixture
def quoll_connect(rgw, prefix, monkeypatch):
    """quoll_connect(endpoint=None, secret=None, raw=None, **options) ->
    FileSystem on quoll://bucket/prefix; options are fs.quoll.* keys without
    the prefix, `raw` a dict of any other configuration keys."""
    import pyorvik
    for name in ("QUOLL_ENDPOINT", "QUOLL_ACCESS_ID", "QUOLL_ACCESS_KEY"):
        monkeypatch.delenv(name, raising=False)

    def connect(endpoint=None, secret=SECRET_KEY, raw=None, **options):
        extra = {"fs.quoll." + k: v for k, v in options.items()}
        extra.update(raw or {})
        config = quoll_config(endpoint or rgw.endpoint, secret, **extra)
        return pyorvik.connect("quoll://%s/%s" % (BUCKET, prefix), "tester", config)

    return connect


@pytest.fixture
def fault_proxy(rgw):
    """A FaultProxy in front of the gateway; started and stopped per test."""
    from fault_proxy import FaultProxy
    proxy = FaultProxy(rgw.endpoint)
    yield proxy
    proxy.stop()


class ObjectPath:
    """The part of pathlib.Path that the suite uses on a store's root,
    backed by objects under a prefix of the gateway: a directory is a marker
    object "dir/" or any key below it. What only a local directory can do
    (os.stat, chmod, symbolic links) skips the test for quoll://."""

    def __init__(self, client, bucket, key):
        self.client = client
        self.bucket = bucket
        self.key = key

    def __truediv__(self, name):
        return ObjectPath(self.client, self.bucket, self.key + "/" + str(name))

    def joinpath(self, *names):
        path = self
        for name in names:
            path = path / name
        return path

    def __fspath__(self):
        pytest.skip("checks the local directory itself; not applicable to quoll://")

    def __str__(self):
        pytest.skip("builds a file:// URI of the local directory; not applicable to quoll://")

    def __repr__(self):
        return "ObjectPath(%r)" % self.key

    def symlink_to(self, *args, **kwargs):
        pytest.skip("symbolic links are local-only")

    def chmod(self, *args, **kwargs):
        pytest.skip("local permission bits are local-only")

    def write_bytes(self, data):
        self.client.put_object(Bucket=self.bucket, Key=self.key, Body=bytes(data))
        return len(data)

    def touch(self, mode=0o666, exist_ok=True):
        self.write_bytes(b"")

    def read_bytes(self):
        return self.client.get_object(Bucket=self.bucket, Key=self.key)["Body"].read()

    def is_file(self):
        try:
            self.client.head_object(Bucket=self.bucket, Key=self.key)
            return True
        except self.client.exceptions.ClientError:
            return False

    def is_dir(self):
        listing = self.client.list_objects_v2(Bucket=self.bucket, Prefix=self.key + "/",
                                              MaxKeys=1)
        return listing.get("KeyCount", 0) > 0

    def exists(self):
        return self.is_file() or self.is_dir()

    def mkdir(self, mode=0o777, parents=False, exist_ok=False):
        if self.is_file() or (self.is_dir() and not exist_ok):
            raise FileExistsError(self.key)
        parent_key = self.key.rsplit("/", 1)[0]
        parent = ObjectPath(self.client, self.bucket, parent_key)
        if "/" in parent_key and not parent.is_dir():
            if not parents:
                raise FileNotFoundError(parent_key)
            parent.mkdir(parents=True, exist_ok=True)
        self.client.put_object(Bucket=self.bucket, Key=self.key + "/", Body=b"")


class ObjectRoot(ObjectPath):
    """The root of a quoll:// test store: a fresh prefix of the bucket."""

    def __init__(self, gateway, prefix):
        super().__init__(gateway.boto3_client(), gateway.bucket, prefix)
        self.gateway = gateway

    def connect(self, config=None):
        import pyorvik
        config = config or pyorvik.Config()
        config.set("fs.quoll.endpoint", self.gateway.endpoint)
        config.set("fs.quoll.accessKeyId", self.gateway.access_key)
        config.set("fs.quoll.accessKeySecret", self.gateway.secret_key)
        return pyorvik.connect("quoll://%s/%s" % (self.bucket, self.key), "tester", config)


@pytest.fixture
def quoll_root(rgw, prefix, monkeypatch):
    """An ObjectRoot for the store-root fixture of the shared suite."""
    for name in ("QUOLL_ENDPOINT", "QUOLL_ACCESS_ID", "QUOLL_ACCESS_KEY"):
        monkeypatch.delenv(name, raising=False)
    return ObjectRoot(rgw, prefix)
