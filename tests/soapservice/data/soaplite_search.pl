#!/usr/bin/perl
# An independent client of the search service: calls the endpoint $ARGV[0] and prints one
# line per call.
use strict;
use warnings;
use SOAP::Lite;

my $soap = SOAP::Lite->uri($ARGV[1])->proxy($ARGV[0]);
sub show {
    my ($label, $r) = @_;
    if ($r->fault) {
        print "$label FAULT ", $r->faultstring, "\n";
    } else {
        print "$label ", join(',', $r->result, $r->paramsout), "\n";
    }
}
show('version', $soap->call('GetVersion'));
show('normalize', $soap->call('NormalizeURL', SOAP::Data->name(url => '//WWW.Example.COM:80/a/../b')->type('string')));
show('missing', $soap->call('GetSourceConfiguration', SOAP::Data->name(id => 4242)->type('int')));
my $r = $soap->call('AddUser', SOAP::Data->name(username => 'carol')->type('string'),
    SOAP::Data->name(password => 'pw')->type('string'),
    SOAP::Data->name(admin => 'false')->type('boolean'),
    SOAP::Data->name(groups => ['Staff', 'Sales']));
show('adduser', $r);
$r = $soap->call('GetUserData', SOAP::Data->name(username => 'carol')->type('string'));
if ($r->fault) { print "userdata FAULT ", $r->faultstring, "\n"; }
else {
    my @out = ($r->result, $r->paramsout);
    print "userdata $out[0] [", join(';', @{$out[1]}), "]\n";
}
