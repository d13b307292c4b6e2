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
